// Speed of the frame steps on real 921,654-byte files, against reading and writing one frame.
#include "frames/FrameSteps.h"
#include "platform/FileSystemObject.h"
#include "platform/Messages.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace lumenvale;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t HeaderBytes = 54;
constexpr std::size_t PixelBytes = 1920 * 480;

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// A frame with a busy picture; `gain` makes the second field brighter so matching has work.
Bytes MakeFrame(unsigned gain) {
    Bytes b(HeaderBytes + PixelBytes, 0);
    b[0] = 'B';
    b[1] = 'M';
    PutLe32(b, 2, static_cast<std::uint32_t>(b.size()));
    PutLe32(b, 10, HeaderBytes);
    PutLe32(b, 14, 40);
    PutLe32(b, 18, 640);
    PutLe32(b, 22, 480);
    b[26] = 1;
    b[28] = 24;
    PutLe32(b, 34, PixelBytes);
    std::uint32_t state = 2463534242u;
    for (std::size_t i = HeaderBytes; i < b.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b[i] = static_cast<std::uint8_t>(((state & 0x7f) * gain) / 2);
    }
    return b;
}

Bytes ReadWhole(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + file.string());
    }
    Bytes bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
    const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
    ::close(fd);
    if (got != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return bytes;
}

void WriteWhole(const fs::path& file, const Bytes& bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + file.string());
    }
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    if (put != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

void OverwriteWhole(const fs::path& file, const Bytes& bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + file.string());
    }
    const ssize_t put = ::pwrite(fd, bytes.data(), bytes.size(), 0);
    ::close(fd);
    if (put != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

class SilentMessages : public Messages {
public:
    void MsgBox(const QString&, const QString&) override {}
    void Beep() override {}
};

// The working directory of one benchmark, with fresh fields in it.
class WorkingFiles {
public:
    WorkingFiles() : first_(MakeFrame(2)), second_(MakeFrame(3)) {
        std::string name = (fs::temp_directory_path() / "lumenvale-bench-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("cannot make a directory in " + name);
        }
        dir_ = name;
        RestoreFirst();
        RestoreSecond();
    }
    ~WorkingFiles() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    WorkingFiles(const WorkingFiles&) = delete;
    WorkingFiles& operator=(const WorkingFiles&) = delete;

    const fs::path& dir() const { return dir_; }
    void RestoreFirst() const { WriteWhole(dir_ / TempFile, first_); }
    void RestoreSecond() const { WriteWhole(dir_ / Temp2File, second_); }

private:
    Bytes first_;
    Bytes second_;
    fs::path dir_;
};

// The steps only write what changes, so a step run on its own output would do less work than
// on a fresh frame: every timed run starts from the fields as read out. The baselines pause
// the same way, so the pauses cost all benchmarks alike.
//
// The I/O floor: one frame file read whole and written whole to another, replacing it as a
// copy does (truncated and rewritten).
void BM_FrameCopyBaseline(benchmark::State& state) {
    WorkingFiles files;
    for (auto _ : state) {
        state.PauseTiming();
        files.RestoreFirst();
        state.ResumeTiming();
        WriteWhole(files.dir() / "copy.bmp", ReadWhole(files.dir() / TempFile));
    }
}

// Two lower floors for comparison, without targets: the copy made as a new file, and the
// frame written over an existing file of its size, as the steps write back.
void BM_FrameCopyToNewFile(benchmark::State& state) {
    WorkingFiles files;
    for (auto _ : state) {
        state.PauseTiming();
        files.RestoreFirst();
        fs::remove(files.dir() / "copy.bmp");
        state.ResumeTiming();
        WriteWhole(files.dir() / "copy.bmp", ReadWhole(files.dir() / TempFile));
    }
}

void BM_FrameOverwriteInPlace(benchmark::State& state) {
    WorkingFiles files;
    WriteWhole(files.dir() / "copy.bmp", ReadWhole(files.dir() / TempFile));
    for (auto _ : state) {
        state.PauseTiming();
        files.RestoreFirst();
        state.ResumeTiming();
        OverwriteWhole(files.dir() / "copy.bmp", ReadWhole(files.dir() / TempFile));
    }
}

void BM_DoubleFrameLines(benchmark::State& state) {
    WorkingFiles files;
    for (auto _ : state) {
        state.PauseTiming();
        files.RestoreFirst();
        state.ResumeTiming();
        DoubleFrameLines(files.dir());
    }
}

void BM_MatchFieldBrightness(benchmark::State& state) {
    WorkingFiles files;
    SilentMessages messages;
    for (auto _ : state) {
        state.PauseTiming();
        files.RestoreSecond();
        state.ResumeTiming();
        MatchFieldBrightness(files.dir(), messages);
    }
}

void BM_SwapFieldFiles(benchmark::State& state) {
    WorkingFiles files;
    FileSystemObject fileObject;
    for (auto _ : state) {
        SwapFieldFiles(files.dir(), fileObject);
    }
}

void BM_InterleaveFields(benchmark::State& state) {
    WorkingFiles files;
    for (auto _ : state) {
        state.PauseTiming();
        files.RestoreFirst();
        state.ResumeTiming();
        InterleaveFields(files.dir());
    }
}

BENCHMARK(BM_FrameCopyBaseline)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameCopyToNewFile)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameOverwriteInPlace)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DoubleFrameLines)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MatchFieldBrightness)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SwapFieldFiles)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InterleaveFields)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Whether a run ended in an error: Google Benchmark 1.8 (Debian 13) says so in `skipped`, the
// versions before it (Debian 12) in `error_occurred`.
template <typename BenchmarkRun> bool Failed(const BenchmarkRun& run) {
    if constexpr (requires { run.error_occurred; }) {
        return run.error_occurred;
    } else {
        return static_cast<int>(run.skipped) != 0;
    }
}

// The console report, followed by each step's time as a multiple of the baseline measured in
// the same run, next to its target.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !Failed(run)) {
                times_[run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                      run.GetAdjustedCPUTime()};
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto baseline = times_.find("BM_FrameCopyBaseline");
        if (baseline == times_.end() || baseline->second.real <= 0 || baseline->second.cpu <= 0) {
            return;
        }
        const std::map<std::string, double> targets = {{"BM_DoubleFrameLines", 1.5},
                                                       {"BM_InterleaveFields", 2.5},
                                                       {"BM_MatchFieldBrightness", 3.5}};
        std::printf("\nratio to BM_FrameCopyBaseline (%.1f us real, %.1f us CPU):\n",
                    baseline->second.real, baseline->second.cpu);
        std::printf("  %-26s %6s %6s\n", "", "real", "CPU");
        for (const auto& [name, time] : times_) {
            if (name == baseline->first) {
                continue;
            }
            const double real = time.real / baseline->second.real;
            const double cpu = time.cpu / baseline->second.cpu;
            std::printf("  %-26s %6.2f %6.2f", name.c_str(), real, cpu);
            const auto target = targets.find(name);
            if (target != targets.end()) {
                std::printf("  target <= %.1f (real time): %s", target->second,
                            real <= target->second ? "met" : "MISSED");
            }
            std::printf("\n");
        }
    }

private:
    struct Times {
        double real;
        double cpu;
    };
    std::map<std::string, Times> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
