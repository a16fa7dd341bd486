// Arbitrary bytes as the working frame files for every processing step: no crash, no access
// outside the frame, the bytes each step promises, and refused files left exactly as they were.
//
// A full frame is 900 KB, so an input mostly describes its files instead of holding them: each
// file is either the input's raw bytes or a frame built from a header (40 or 124 bytes), a
// pixel pattern and a few spoiled header fields, all chosen by the input.
#include "frames/FrameSteps.h"
#include "platform/Errors.h"
#include "platform/FileSystemObject.h"
#include "platform/Messages.h"

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace lumenvale;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t RowBytes = 1920;
constexpr std::size_t PixelBytes = RowBytes * 480;

// Takes values from the front of the input; zeros once it runs out.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t Word() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        }
        return v;
    }
    Bytes Take(std::size_t n) {
        n = std::min(n, size_ - at_);
        Bytes bytes(data_ + at_, data_ + at_ + n);
        at_ += n;
        return bytes;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4 && at + i < b.size(); ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

Bytes BuildFrame(Input& in, bool largeHeader) {
    const std::uint32_t infoBytes = largeHeader ? 124 : 40;
    std::uint32_t offset = 14 + infoBytes;
    std::int64_t lengthChange = 0;
    const std::uint32_t pattern = in.Word();

    struct Spoil {
        std::uint8_t field;
        std::uint32_t value;
    };
    std::vector<Spoil> spoils;
    for (int n = in.Byte() % 5; n > 0; --n) {
        const std::uint8_t field = in.Byte() % 11;
        const std::uint32_t value = in.Word();
        if (field == 0) {
            offset = value % 320; // pixel data moved, below and beyond 255
        } else if (field == 1) {
            lengthChange = static_cast<std::int32_t>(value) % 4000;
        } else {
            spoils.push_back({field, value});
        }
    }

    const std::int64_t length =
        std::max<std::int64_t>(0, std::int64_t{offset} + std::int64_t{PixelBytes} + lengthChange);
    Bytes b(static_cast<std::size_t>(std::max<std::int64_t>(length, 54 + 84)), 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(length));
    Put32(b, 10, offset);
    Put32(b, 14, infoBytes);
    Put32(b, 18, 640);
    Put32(b, 22, 480);
    b[26] = 1;
    b[28] = 24;
    Put32(b, 34, PixelBytes);

    // Uniform pictures (black included) or noise of a chosen depth.
    std::uint32_t state = pattern | 1;
    const bool uniform = (pattern & 0x80000000U) != 0;
    const std::uint8_t mask = static_cast<std::uint8_t>(pattern >> 8) | 1;
    for (std::size_t i = offset; i < b.size() && i < offset + PixelBytes; ++i) {
        if (uniform) {
            b[i] = static_cast<std::uint8_t>(pattern);
        } else {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b[i] = static_cast<std::uint8_t>(state) & mask;
        }
    }

    for (const Spoil& s : spoils) {
        switch (s.field) {
        case 2:
            b[s.value % 2] = static_cast<std::uint8_t>(s.value >> 8);
            break;
        case 3:
            Put32(b, 14, s.value % 3 == 0 ? 12 : s.value);
            break;
        case 4:
            Put32(b, 18, s.value % 2 ? 320 : s.value);
            break;
        case 5:
            Put32(b, 22, s.value % 3 == 0 ? static_cast<std::uint32_t>(-480) : s.value);
            break;
        case 6:
            b[28] = static_cast<std::uint8_t>(s.value % 2 ? 8 : s.value);
            break;
        case 7:
            Put32(b, 30, s.value % 4);
            break;
        case 8:
            Put32(b, 10, s.value);
            break; // offset field alone, pixels left in place
        default:
            b[s.value % 138] = static_cast<std::uint8_t>(s.value >> 8);
            break;
        }
    }
    b.resize(static_cast<std::size_t>(length));
    return b;
}

Bytes MakeFile(Input& in, const Bytes* other) {
    switch (in.Byte() % 4) {
    case 0:
        return in.Take(in.Byte() * 16u);
    case 1:
        return BuildFrame(in, false);
    case 2:
        return BuildFrame(in, true);
    default:
        return other != nullptr ? *other : BuildFrame(in, false);
    }
}

// What the steps may rely on, stated independently of the program's own check.
bool IsFrame(const Bytes& b) {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
        return false;
    }
    const std::uint32_t offset = Get32(b, 10);
    const std::uint32_t info = Get32(b, 14);
    return info >= 40 && Get32(b, 18) == 640 && Get32(b, 22) == 480 && b[28] == 24 && b[29] == 0 &&
           Get32(b, 30) == 0 && offset <= 255 && offset >= 14 + std::uint64_t{info} &&
           b.size() >= offset + PixelBytes;
}

std::uint8_t* Row(Bytes& b, int r) {
    return b.data() + b[10] + RowBytes * r;
}
const std::uint8_t* Row(const Bytes& b, int r) {
    return b.data() + b[10] + RowBytes * r;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "FrameStepsFuzz: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

class CountingMessages : public Messages {
public:
    void MsgBox(const QString&, const QString&) override {}
    void Beep() override { ++beeps; }
    int beeps = 0;
};

void WriteFile(const fs::path& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        Fail("cannot write a working file");
    }
}

Bytes ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) {
        Fail("a working file is missing");
    }
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) {
        Fail("cannot read a working file");
    }
    return bytes;
}

enum class Step { Double, Match, Swap, Interleave };

void RunStep(Step step, const fs::path& dir, const Bytes& temp, const Bytes& temp2) {
    WriteFile(dir / TempFile, temp);
    WriteFile(dir / Temp2File, temp2);
    std::error_code ec;
    fs::remove(dir / Temp3File, ec);
    CountingMessages messages;
    FileSystemObject files;

    const bool usesSecond = step != Step::Double;
    const bool valid = IsFrame(temp) && (!usesSecond || IsFrame(temp2));
    bool refused = false;
    try {
        switch (step) {
        case Step::Double:
            DoubleFrameLines(dir);
            break;
        case Step::Match:
            MatchFieldBrightness(dir, messages);
            break;
        case Step::Swap:
            SwapFieldFiles(dir, files);
            break;
        case Step::Interleave:
            InterleaveFields(dir);
            break;
        }
    } catch (const FileError&) {
        refused = true;
    }

    const Bytes after = ReadFile(dir / TempFile);
    const Bytes after2 = ReadFile(dir / Temp2File);
    Check(!fs::exists(dir / Temp3File), "temp3.bmp left behind");
    Check(refused != valid, valid ? "a frame was refused" : "a non-frame was processed");
    if (refused) {
        Check(after == temp && after2 == temp2, "a refused file was changed");
        Check(messages.beeps == 0, "beep after a refusal");
        return;
    }

    switch (step) {
    case Step::Double: {
        Bytes expected = temp;
        for (int k = 0; k <= 238; ++k) {
            std::memcpy(Row(expected, 2 * k + 1), Row(expected, 2 * k), RowBytes);
        }
        Check(after == expected, "doubling gave other bytes");
        Check(after2 == temp2, "doubling touched temp2.bmp");
        break;
    }
    case Step::Match: {
        Check(after == temp, "matching touched temp.bmp");
        Check(after2.size() == temp2.size(), "matching changed the length");
        Check(messages.beeps == 1, "matching did not beep once");
        for (std::size_t i = 0; i < temp2.size(); ++i) {
            const std::size_t pixel = i - temp2[10];
            const bool scaled =
                i >= temp2[10] && pixel < 477 * RowBytes && (pixel / RowBytes) % 2 == 0;
            Check(scaled ? after2[i] <= temp2[i] : after2[i] == temp2[i],
                  "matching changed a byte it must not");
        }
        break;
    }
    case Step::Swap:
        Check(after == temp2 && after2 == temp, "the swap did not exchange the files");
        break;
    case Step::Interleave: {
        Bytes expected = temp;
        for (int r = 3; r <= 479; r += 2) {
            std::memcpy(Row(expected, r), Row(temp2, r - 1), RowBytes);
        }
        Check(after == expected, "interleaving gave other bytes");
        Check(after2 == temp2, "interleaving touched temp2.bmp");
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const Bytes temp = MakeFile(in, nullptr);
    const Bytes temp2 = MakeFile(in, &temp);

    std::string name = (fs::temp_directory_path() / "lumenvale-fuzz-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) {
        Fail("cannot make a scratch directory");
    }
    const fs::path dir = name;
    for (Step step : {Step::Double, Step::Match, Step::Swap, Step::Interleave}) {
        RunStep(step, dir, temp, temp2);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
