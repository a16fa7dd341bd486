// The capture commands wired to the test services, a plain Control panel, a list viewer and a
// working directory of their own.
#pragma once

#include "support/FakeControlPanel.h"
#include "support/FakeLineCalls.h"
#include "support/FakeV4l2Device.h"
#include "support/FakeViewer.h"
#include "support/FrameFixtures.h"
#include "support/TestServices.h"

#include "acquisition/AcquisitionLibrary.h"
#include "camera/CameraLines.h"
#include "camera/CaptureCommands.h"
#include "camera/CaptureState.h"
#include "camera/ExposureTiming.h"
#include "camera/LineStates.h"
#include "lines/LinePorts.h"
#include "settings/Settings.h"

#include <QByteArray>
#include <QDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

namespace lumenvale::test {

struct CaptureRig {
    enum class Camera {
        Scripted,  // the scripted acquisition dialog of the tests
        Simulated, // the real acquisition library, on its simulated camera (no webcam seen)
    };

    // `serial`: the lines on the serial adapter with its default mapping, opened, on a fake
    // tty whose requests take a USB round trip; else on the recording port.
    explicit CaptureRig(Camera camera = Camera::Scripted, SimulatedCamera::Drift drift = {},
                        bool serial = false)
        : dir(tmp.path().toStdString()), library(MakeLibrary(camera, dir, services, drift)),
          serialPort(serial ? OpenSerial(devices, services) : nullptr),
          wired{services.clock,    services.lines, port(),
                services.timers,   services.keys,  services.pump,
                services.messages, services.files, Source(library, services)},
          commands(state, settings, wired, lines, timing, panel, viewer, dir) {
        // Short exposures keep the suite quick; the rules do not depend on the length.
        panel.text2 = QStringLiteral("0.05");
        settings.SaveDir = (dir / "saved").string();
        std::filesystem::create_directory(dir / "saved");
    }

    std::vector<std::uint8_t> states() const { return services.lines.states(); }
    std::vector<std::uint8_t> bytes(const char* name) const { return ReadBytes(dir / name); }
    bool exists(const char* name) const { return std::filesystem::exists(dir / name); }
    std::filesystem::path saved(const char* name) const { return dir / "saved" / name; }
    std::size_t savedCount() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir / "saved"), {}));
    }

    // Milliseconds from the exposure-state write of frame `frame` (0-based) to its first readout
    // write, from the line monitor; -1 when the frame has no readout write.
    std::int32_t exposureSeen(std::size_t frame = 0) const {
        const auto history = services.lines.history();
        std::size_t pulses = 0;
        for (std::size_t i = 0; i < history.size(); ++i) {
            // 0x27, 0x37, 0x14, 0x34, exposure state, then the readout.
            if (history[i].state == LinePulseStart && pulses++ == frame) {
                return i + 5 < history.size() ? history[i + 5].tick - history[i + 4].tick : -1;
            }
        }
        return -1;
    }

    // Runs `action` at the first event the run lets through after it has written the "Amp off"
    // exposure state: in the exposure wait, or later when there is none.
    void afterAmpOffExposureStarts(std::function<void()> action) {
        services.lines.subscribe([action = std::move(action)](const LineWrite& write) {
            if (write.state == LineExposeAmpOff) {
                QTimer::singleShot(0, action);
            }
        });
    }

    // The command is over: the box shows `text3`, Stop is enabled or not, nothing is busy.
    void expectEnded(const char* text3, bool stopEnabled) const {
        EXPECT_EQ(panel.text3, QString::fromUtf8(text3));
        EXPECT_EQ(panel.stopEnabled, stopEnabled);
        EXPECT_EQ(state.CaptureBusy, 0);
    }

    // The run ended with exactly one message, holding each of `words`.
    void expectOneMessage(const std::vector<const char*>& words) const {
        ASSERT_EQ(services.messages.texts.size(), 1)
            << services.messages.texts.join('|').toStdString();
        const QString& text = services.messages.texts[0];
        for (const char* word : words) {
            EXPECT_TRUE(text.contains(QString::fromUtf8(word)))
                << text.toStdString() << " / " << word;
        }
    }

    static std::unique_ptr<AcquisitionLibrary> MakeLibrary(Camera camera,
                                                           const std::filesystem::path& dir,
                                                           TestServices& services,
                                                           SimulatedCamera::Drift drift) {
        if (camera != Camera::Simulated) {
            return nullptr;
        }
        std::filesystem::create_directory(dir / "dev");
        AcquisitionOptions options;
        options.configFile = dir / "acquisition.ini";
        options.deviceDirectory = dir / "dev";
        options.failureLingerMs = 0;
        options.simulatedDrift = drift;
        // No camera nodes: the webcam calls are never made.
        static FakeV4l2Device noWebcams;
        return std::make_unique<AcquisitionLibrary>(services.lines, services.clock, noWebcams,
                                                    options);
    }

    static std::unique_ptr<PortIo> OpenSerial(FakeLineDevices& devices, TestServices& services) {
        devices.tty.writeTime = std::chrono::milliseconds(1);
        auto port = MakeLinePort({LineAdapter::Serial, FakeLineDevices::path(LineAdapter::Serial),
                                  DefaultLineMapping(LineAdapter::Serial)},
                                 services.lines, services.clock, devices.calls);
        EXPECT_EQ(port->InitializeWinIo(), 1) << port->lastError();
        return port;
    }
    PortIo& port() { return serialPort ? *serialPort : services.port; }
    static Acquisition& Source(std::unique_ptr<AcquisitionLibrary>& library,
                               TestServices& services) {
        return library ? static_cast<Acquisition&>(*library) : services.acquisition;
    }

    // `step` (a confirmed acquisition unless told) that first runs `action` in its open dialog.
    static ScriptedAcquisition::Step
    WhileOpen(std::function<void()> action,
              ScriptedAcquisition::Step step = ScriptedAcquisition::Confirm()) {
        step.whileOpen = [action = std::move(action)](QDialog&) { action(); };
        return step;
    }

    static QByteArray Frame(const PixelRule& rule) {
        const std::vector<std::uint8_t> bytes = MakeFrameBytes(rule);
        return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
    }
    static std::vector<std::uint8_t> Bytes(const QByteArray& frame) {
        return {frame.begin(), frame.end()};
    }

    QTemporaryDir tmp;
    std::filesystem::path dir;
    TestServices services;
    std::unique_ptr<AcquisitionLibrary> library; // only on the simulated camera
    FakeLineDevices devices;
    std::unique_ptr<PortIo> serialPort;
    Services wired;
    CaptureState state;
    Settings settings;
    CameraLines lines{port(), state, services.messages};
    ExposureTiming timing{state, wired, lines};
    FakeControlPanel panel;
    FakeViewer viewer;
    CaptureCommands commands;
};

} // namespace lumenvale::test
