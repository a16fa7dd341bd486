// The hidapi calls the LXUSB adapter makes, behind one interface so a test can stand in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumenvale {

struct HidDevice {
    std::string path; // /dev/hidrawN with the hidraw backend
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string serial;
    std::string productName;
};

// Each call returns its result (a handle, a byte count, or 0) or, on failure, minus the errno
// value the system gave.
class HidCalls {
public:
    virtual ~HidCalls() = default;
    // The HID devices with this vendor and product; 0 and 0 for every device.
    virtual std::vector<HidDevice> enumerate(std::uint16_t vendor, std::uint16_t product) = 0;
    virtual int open(const char* path) = 0;
    // `data[0]` is the report number (0 for a device without numbered reports).
    virtual int write(int handle, const unsigned char* data, std::size_t length) = 0;
    virtual int close(int handle) = 0;
};

// hidapi's hidraw backend.
class HidapiCalls : public HidCalls {
public:
    HidapiCalls() = default;
    ~HidapiCalls() override;
    HidapiCalls(const HidapiCalls&) = delete;
    HidapiCalls& operator=(const HidapiCalls&) = delete;

    std::vector<HidDevice> enumerate(std::uint16_t vendor, std::uint16_t product) override;
    int open(const char* path) override;
    int write(int handle, const unsigned char* data, std::size_t length) override;
    int close(int handle) override;

private:
    std::vector<void*> devices_; // a handle is an index; closed ones hold nullptr
    bool initialised_ = false;
};

} // namespace lumenvale
