// The program's viewer and Control window on the simulated camera, in a scratch directory,
// for the benchmarks that drive whole capture runs through the Control window's buttons.
#pragma once

#include "acquisition/AcquisitionLibrary.h"
#include "acquisition/LibV4l2Calls.h"
#include "camera/Services.h"
#include "lines/FtdiCalls.h"
#include "lines/GpioCalls.h"
#include "lines/HidCalls.h"
#include "lines/LineMonitor.h"
#include "lines/LinePorts.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"
#include "platform/FileSystemObject.h"
#include "platform/Keystrokes.h"
#include "platform/MessagePump.h"
#include "platform/Messages.h"
#include "platform/WindowTimers.h"
#include "settings/SettingsFile.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/ProgramState.h"
#include "ui/QtFileDialogs.h"

#include <QPixmap>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <filesystem>

namespace lumenvale::bench {

// Messages go to the terminal: nobody is there to close a box.
class PrintedMessages : public Messages {
public:
    void MsgBox(const QString& text, const QString& /*title*/) override {
        std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
        ++count;
    }
    void Beep() override {}
    int count = 0;
};

template <typename T> T& Find(QWidget& window, const char* name) {
    return *window.findChild<T*>(QString::fromLatin1(name));
}

// Frames are saved to `work`/saved; there is no webcam and no parallel port, so the simulated
// camera takes the frames and the line monitor sees every write. The camera lines go to a
// parallel port that is not there, or to the adapter `choice` names on `calls` (not owned).
// Needs a QApplication.
struct SimulatedDesk {
    explicit SimulatedDesk(LineCalls* calls = nullptr, LinesChoice choice = {})
        : adapterCalls(calls), linesChoice(std::move(choice)) {
        viewer.show();
        control.show();
        messages.count = 0; // the port that is not there was reported; that is expected here
    }
    ~SimulatedDesk() {
        control.close();
        viewer.close();
    }
    SimulatedDesk(const SimulatedDesk&) = delete;
    SimulatedDesk& operator=(const SimulatedDesk&) = delete;

    // The folders and "config.dat", before any window reads it.
    static std::filesystem::path Prepare(const std::filesystem::path& work) {
        std::filesystem::create_directory(work / "saved");
        std::filesystem::create_directory(work / "dev");
        Settings settings = DefaultSettings();
        settings.SaveDir = (work / "saved").string();
        SaveSettings(work / SettingsFileName, settings);
        return work;
    }

    static AcquisitionOptions Options(const std::filesystem::path& work) {
        AcquisitionOptions options;
        options.configFile = work / "acquisition.ini";
        options.deviceDirectory = work / "dev";
        return options;
    }

    LineCalls* adapterCalls = nullptr;
    LinesChoice linesChoice;
    QTemporaryDir dir;
    std::filesystem::path work{Prepare(dir.path().toStdString())};
    SystemClock clock;
    LineMonitor lines;
    KernelPpdevSyscalls ppdev;
    HidapiCalls hid;
    LibFtdiCalls ftdi;
    LibGpiodCalls gpio;
    LineCalls systemCalls{ppdev, hid, ftdi, gpio};
    ChosenPort port{
        lines, clock, adapterCalls != nullptr ? *adapterCalls : systemCalls, [this] {
            if (adapterCalls != nullptr) {
                return linesChoice;
            }
            return LinesChoice{LineAdapter::Parallel, (work / "dev" / "parport0").string(), {}};
        }};
    WindowTimers timers;
    QtKeystrokes keys;
    QtMessagePump pump;
    PrintedMessages messages;
    FileSystemObject files;
    LibV4l2Calls v4l2;
    AcquisitionLibrary acquisition{lines, clock, v4l2, Options(work)};
    Services services{clock, lines, port, timers, keys, pump, messages, files, acquisition};
    ProgramState program;
    QtFileDialogs dialogs;
    Form2 viewer{program, messages, dialogs, QPixmap(), work / SettingsFileName};
    Form1 control{program, services, viewer, QPixmap(), work};
};

} // namespace lumenvale::bench
