// A test fixture with a fresh scratch directory, for tests that write text files into one place.
#pragma once

#include "support/FrameFixtures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lumenvale::test {

// The directory and the file helpers are ScratchDir's, WriteBytes' and ReadBytes', so a file
// that cannot be written or read fails the test instead of reading as empty.
class TempDirTest : public ::testing::Test {
protected:
    // Writes `content` to `name` in the directory; returns its path.
    std::filesystem::path make(const std::string& name, const std::string& content) const {
        const std::filesystem::path file = dir / name;
        WriteBytes(file, {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()});
        return file;
    }

    static std::string read(const std::filesystem::path& file) {
        const std::vector<std::uint8_t> bytes = ReadBytes(file);
        return {bytes.begin(), bytes.end()};
    }

    // How many entries the directory holds.
    std::size_t entries() const { return scratch_.entries(); }

private:
    ScratchDir scratch_;

protected:
    std::filesystem::path dir = scratch_.path();
};

} // namespace lumenvale::test
