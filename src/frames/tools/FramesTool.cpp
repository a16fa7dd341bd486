// lumenvale-frames: runs one processing step on the working frame files of a directory, so raw
// copies can be processed again by hand.
#include "frames/FrameSteps.h"
#include "platform/Errors.h"
#include "platform/FileSystemObject.h"
#include "platform/Messages.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string_view>

namespace {

// A terminal rings its bell for the beep that ends matching; anything else gets nothing, so
// scripts see only real messages on standard error.
class ConsoleMessages : public lumenvale::Messages {
public:
    void MsgBox(const QString& text, const QString& /*title*/) override {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    void Beep() override {
        if (::isatty(STDERR_FILENO)) {
            std::fputs("\a", stderr);
        }
    }
};

int Usage() {
    std::fputs("usage: lumenvale-frames double|match|swap|interleave [DIR]\n"
               "Runs one processing step on temp.bmp / temp2.bmp in DIR (default: .).\n",
               stderr);
    return 2;
}

// Messages from the file layer are single lines already; this keeps it so whatever they hold.
void PrintOneLine(std::string_view text) {
    for (char c : text) {
        std::fputc(c == '\n' || c == '\r' ? ' ' : c, stderr);
    }
    std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        return Usage();
    }
    const std::string_view step = argv[1];
    const std::filesystem::path dir = argc == 3 ? argv[2] : ".";
    try {
        if (step == "double") {
            lumenvale::DoubleFrameLines(dir);
        } else if (step == "match") {
            ConsoleMessages messages;
            lumenvale::MatchFieldBrightness(dir, messages);
        } else if (step == "swap") {
            lumenvale::FileSystemObject files;
            lumenvale::SwapFieldFiles(dir, files);
        } else if (step == "interleave") {
            lumenvale::InterleaveFields(dir);
        } else {
            return Usage();
        }
    } catch (const std::exception& error) {
        PrintOneLine(error.what());
        return 1;
    }
    return 0;
}
