// An acquisition library for tests: a real modal dialog owned by the caller's window whose
// default button, pressed by the Return keystroke of the readout timer, writes a frame file
// the test chose. Each call follows the next step of a script; every call is recorded.
#pragma once

#include "acquisition/Acquisition.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QDialog;

namespace lumenvale::test {

class ScriptedAcquisition : public Acquisition {
public:
    enum class Mode {
        // Dialog with "Acquire" as default button: Return writes the frame and returns AcquireOk.
        Confirm,
        // Dialog with "Cancel" as default button: Return closes it, nothing is written,
        // AcquireCancelled is returned.
        Cancel,
        // Dialog with "Acquire" as default button: Return closes it, nothing is written, and
        // `result` is returned.
        Fail,
        // No dialog and no event handled, so the readout timer never ticks: writes the frame
        // when `result` is AcquireOk, and returns `result`.
        ReturnAtOnce,
    };

    struct Step {
        Mode mode = Mode::Confirm;
        std::int32_t result = AcquireOk; // what Fail and ReturnAtOnce return
        QByteArray frame;                // file content; empty: the default frame
        // Runs once inside the dialog's event loop, right after it opened (press Stop, close
        // the dialog, ...). Not run for ReturnAtOnce.
        std::function<void(QDialog&)> whileOpen;
    };

    static Step Confirm(QByteArray frame = {}) { return {Mode::Confirm, AcquireOk, frame, {}}; }
    static Step Cancel() { return {Mode::Cancel, AcquireCancelled, {}, {}}; }
    static Step Fail(std::int32_t code) { return {Mode::Fail, code, {}, {}}; }
    static Step ReturnAtOnce(std::int32_t result = AcquireOk, QByteArray frame = {}) {
        return {Mode::ReturnAtOnce, result, frame, {}};
    }

    // A picture as the bytes of a 24-bit, bottom-up BMP file (54-byte header).
    static QByteArray BmpBytes(const QImage& picture);
    // 640 x 480 with a gradient, so every row and column differs.
    static QImage DefaultPicture();

    ScriptedAcquisition();

    std::int32_t TWAIN_AcquireToFilename(QWidget* parent, const std::string& fileName) override;
    std::int32_t TWAIN_SelectImageSource(QWidget* parent) override;
    void openSource() override { ++openSourceCalls; }
    void closeSource() override { ++closeSourceCalls; }

    // What the test sets up. Each acquisition takes the front step of `script`; once it is
    // empty, `fallback` serves every call.
    std::deque<Step> script;
    Step fallback;
    QByteArray defaultFrame;         // written by steps without a frame of their own
    std::filesystem::path directory; // file names are relative to it; empty: current directory
    int dialogTimeoutMs = 10000;     // a dialog nobody confirms is cancelled after this

    struct Call {
        QWidget* parent = nullptr;
        std::string fileName;
        Mode mode = Mode::Confirm;
        std::int32_t result = AcquireOk;
        bool wroteFile = false;
        bool timedOut = false; // nobody pressed a button in time
    };
    std::vector<Call> calls;
    std::vector<std::string> fileNames() const;
    int selectCalls = 0;
    int openSourceCalls = 0;
    int closeSourceCalls = 0;

private:
    bool writeFrame(const std::string& fileName, const QByteArray& frame) const;
};

} // namespace lumenvale::test
