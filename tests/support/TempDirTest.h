// A test fixture with a fresh temporary directory, removed with everything in it afterwards.
#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace lumenvale::test {

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        dir = tmp_.path().toStdString();
    }

    // Writes `content` to `name` in the directory; returns its path.
    std::filesystem::path make(const std::string& name, const std::string& content) const {
        const std::filesystem::path file = dir / name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    static std::string read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // How many entries the directory holds.
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir),
                                                      std::filesystem::directory_iterator()));
    }

    std::filesystem::path dir;

private:
    QTemporaryDir tmp_;
};

} // namespace lumenvale::test
