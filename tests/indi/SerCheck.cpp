// Reads a SER video with the tests' own reader and prints what a test script checks: the
// frame count, the picture's size and colour, and whether the trailer holds one strictly
// increasing UTC time per frame. Exits 1, saying why, for a file that is not a valid SER video.
#include "support/SerReader.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.ser\n", argv[0]);
        return 2;
    }
    std::string why;
    const auto ser = lumenvale::test::ReadSer(argv[1], why);
    if (!ser) {
        std::printf("invalid: %s\n", why.c_str());
        return 1;
    }
    bool increasing = ser->trailer.size() == ser->frames.size();
    for (std::size_t i = 1; increasing && i < ser->trailer.size(); ++i) {
        increasing = ser->trailer[i] > ser->trailer[i - 1];
    }
    std::printf("frames=%d width=%d height=%d depth=%d colour=%d trailer=%s\n", ser->frameCount,
                ser->width, ser->height, ser->depth, ser->colourId,
                increasing ? "increasing" : "missing-or-unordered");
    return 0;
}
