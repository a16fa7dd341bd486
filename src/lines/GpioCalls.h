// The libgpiod calls the GPIO adapter makes, behind one interface so a test can stand in.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace lumenvale {

// Each call returns its result (a handle, a count, or 0) or, on failure, minus the errno value.
class GpioCalls {
public:
    virtual ~GpioCalls() = default;
    virtual int open(const char* chipPath) = 0;
    virtual std::string label(int chip) = 0;
    virtual int lineCount(int chip) = 0;
    // Who holds the line ("spi0 CS0", "kernel", ...), empty when it is free.
    virtual std::string holder(int chip, unsigned offset) = 0;
    // Requests the lines as outputs for this program, starting at `values`; one request per
    // chip at a time.
    virtual int requestOutputs(int chip, const std::vector<unsigned>& offsets,
                               const std::vector<int>& values) = 0;
    // Sets the requested lines, in the order they were requested.
    virtual int setValues(int chip, const std::vector<int>& values) = 0;
    // Releases the lines (they keep their level) and closes the chip.
    virtual int close(int chip) = 0;
};

// libgpiod on the gpiochip character devices: GpioCalls.cpp on 1.6, GpioCalls2.cpp on 2.x, as
// the build finds it.
class LibGpiodCalls : public GpioCalls {
public:
    LibGpiodCalls();
    ~LibGpiodCalls() override;
    LibGpiodCalls(const LibGpiodCalls&) = delete;
    LibGpiodCalls& operator=(const LibGpiodCalls&) = delete;

    int open(const char* chipPath) override;
    std::string label(int chip) override;
    int lineCount(int chip) override;
    std::string holder(int chip, unsigned offset) override;
    int requestOutputs(int chip, const std::vector<unsigned>& offsets,
                       const std::vector<int>& values) override;
    int setValues(int chip, const std::vector<int>& values) override;
    int close(int chip) override;

private:
    struct Chip;
    std::vector<std::unique_ptr<Chip>> chips_; // a handle is an index; closed ones are empty
};

} // namespace lumenvale
