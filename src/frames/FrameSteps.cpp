// The in-place processing steps of frame files in the working directory.
#include "frames/FrameSteps.h"

#include "frames/FrameAccess.h"
#include "frames/FrameFile.h"
#include "platform/Errors.h"
#include "platform/FileSystemObject.h"
#include "platform/Messages.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

namespace fs = std::filesystem;

namespace lumenvale {

namespace {

// The pair counter of doubling, scaling and interleaving runs 0, 2, ..., 476: 239 pairs, so
// the top two lines of the picture are never rewritten.
constexpr int LastPairRow = 477;
constexpr int PairStep = 2;
// Brightness is sampled on every eleventh stored row: the counter steps by 20, but each turn
// moves one row and skips ten.
constexpr int LastSampleCount = 477;
constexpr int SampleCountStep = 20;
constexpr std::size_t SampleSkip = 10 * FrameRowBytes;
// Interleaving starts two rows in, at stored row 2.
constexpr std::size_t InterleaveStart = 2 * FrameRowBytes;

// b x ratio rounded to nearest, halves to even, for every byte value. The ratio is in [0, 1],
// so every result fits in a byte.
std::array<std::uint8_t, 256> ScaleTable(double ratio) {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[b] = static_cast<std::uint8_t>(std::nearbyint(b * ratio));
    }
    return table;
}

} // namespace

void DoubleFrameLines(const fs::path& dir) {
    FrameFile file(dir / TempFile);
    {
        FrameAccess frame(file);
        std::size_t p = frame.dataOffset() + 1;
        for (int pair = 0; pair <= LastPairRow; pair += PairStep) {
            for (std::size_t j = 0; j < FrameRowBytes; ++j) {
                frame.writeByte(p + FrameRowBytes, frame.readByte(p));
                ++p;
            }
            p += FrameRowBytes;
        }
    }
    file.close();
}

void MatchFieldBrightness(const fs::path& dir, Messages& messages) {
    double firstSum = 0;
    double secondSum = 0;
    {
        // Both fields are checked before either is touched.
        FrameFile firstFile(dir / TempFile);
        FrameFile secondFile(dir / Temp2File);
        {
            const FrameAccess first(firstFile);
            const FrameAccess second(secondFile);
            // Each file is read from its own pixel data, so fields whose headers differ in
            // size are still compared row for row.
            std::size_t p1 = first.dataOffset() + 1;
            std::size_t p2 = second.dataOffset() + 1;
            for (int count = 0; count <= LastSampleCount; count += SampleCountStep) {
                for (std::size_t j = 0; j < FrameRowBytes; ++j) {
                    secondSum += second.readByte(p2++);
                    firstSum += first.readByte(p1++);
                }
                p1 += SampleSkip;
                p2 += SampleSkip;
            }
        }
        secondFile.close();
        firstFile.close();
    }

    // An all-black sample of the second field gives nothing to match against: leave it as is.
    double ratio = secondSum == 0 ? 1.0 : firstSum / secondSum;
    if (ratio > 1.0) {
        ratio = 1.0;
    }
    const std::array<std::uint8_t, 256> scaled = ScaleTable(ratio);

    FrameFile secondFile(dir / Temp2File);
    {
        FrameAccess second(secondFile);
        std::size_t p = second.dataOffset() + 1;
        for (int pair = 0; pair <= LastPairRow; pair += PairStep) {
            for (std::size_t j = 0; j < FrameRowBytes; ++j) {
                second.writeByte(p, scaled[second.readByte(p)]);
                ++p;
            }
            p += FrameRowBytes;
        }
    }
    secondFile.close();
    messages.Beep();
}

void SwapFieldFiles(const fs::path& dir, FileSystemObject& files) {
    const fs::path temp = dir / TempFile;
    const fs::path temp2 = dir / Temp2File;
    const fs::path temp3 = dir / Temp3File;
    FrameFile::check(temp);
    FrameFile::check(temp2);

    // A leftover from an interrupted swap; a read-only one stops the swap here, before any
    // rename.
    if (files.FileExists(temp3)) {
        files.DeleteFile(temp3, false);
    }

    struct Rename {
        const fs::path& from;
        const fs::path& to;
    };
    const std::array<Rename, 3> renames{{{temp2, temp3}, {temp, temp2}, {temp3, temp}}};
    std::size_t done = 0;
    try {
        for (; done < renames.size(); ++done) {
            files.MoveFile(renames[done].from, renames[done].to);
        }
    } catch (const FileError& error) {
        if (done == 0) {
            throw;
        }
        // Put back what was renamed, newest first, so both fields keep their names.
        try {
            while (done > 0) {
                --done;
                files.MoveFile(renames[done].to, renames[done].from);
            }
        } catch (const FileError& undo) {
            throw FileError(error.file(), error.reason() + "; the swap could not be undone (" +
                                              undo.what() + ")");
        }
        throw FileError(error.file(),
                        error.reason() + "; the swap was undone, fields are unchanged");
    }
}

void InterleaveFields(const fs::path& dir) {
    FrameFile baseFile(dir / TempFile);
    FrameFile sourceFile(dir / Temp2File);
    {
        FrameAccess base(baseFile);
        const FrameAccess source(sourceFile);
        // The source is read from its own pixel data (see MatchFieldBrightness).
        std::size_t p = base.dataOffset() + 1 + InterleaveStart;
        std::size_t q = source.dataOffset() + 1 + InterleaveStart;
        for (int pair = 0; pair <= LastPairRow; pair += PairStep) {
            for (std::size_t j = 0; j < FrameRowBytes; ++j) {
                base.writeByte(p + FrameRowBytes, source.readByte(q));
                ++p;
                ++q;
            }
            p += FrameRowBytes;
            q += FrameRowBytes;
        }
    }
    sourceFile.close();
    baseFile.close();
}

} // namespace lumenvale
