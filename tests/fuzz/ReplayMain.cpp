// Replays a fuzz target over its seed files and over deterministic mutations of them, so the
// ordinary test run exercises every target without libFuzzer.
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void runOne(const std::vector<std::uint8_t>& input) {
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<std::vector<std::uint8_t>> seeds;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                seeds.push_back(readFile(entry.path()));
            }
        } else if (std::filesystem::is_regular_file(arg, ec)) {
            seeds.push_back(readFile(arg));
        }
    }
    seeds.emplace_back(); // the empty input

    std::mt19937 random(12345);
    std::size_t runs = 0;
    for (const auto& seed : seeds) {
        runOne(seed);
        ++runs;
        // Flip, truncate and extend the seed: the faults a broken file really has.
        for (int m = 0; m < 40; ++m) {
            std::vector<std::uint8_t> input = seed;
            const int kind = static_cast<int>(random() % 3);
            if (kind == 0 && !input.empty()) {
                for (int k = 0; k < 8; ++k) {
                    input[random() % input.size()] = static_cast<std::uint8_t>(random());
                }
            } else if (kind == 1 && !input.empty()) {
                input.resize(random() % input.size());
            } else {
                for (int k = 0; k < 16; ++k) {
                    input.push_back(static_cast<std::uint8_t>(random()));
                }
            }
            runOne(input);
            ++runs;
        }
    }
    std::printf("%zu inputs replayed without a crash\n", runs);
    return 0;
}
