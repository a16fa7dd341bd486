// The libftdi1 calls the FTDI adapter makes, behind one interface so a test can stand in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumenvale {

struct FtdiDevice {
    // libftdi's description string that opens this chip: "s:0x0403:0x6001:A50285BI" with a
    // serial number, else "i:0x0403:0x6001".
    std::string description;
    std::string productName;
    std::string serial;
};

// Each call returns its result (a handle, or 0) or, on failure, minus an errno value: libftdi's
// own error codes are translated (device not found ENOENT, cannot be opened EACCES, cannot be
// claimed EBUSY, device gone ENODEV, anything else EIO).
class FtdiCalls {
public:
    virtual ~FtdiCalls() = default;
    // The FTDI chips on the USB buses, with libftdi's default vendor and product numbers.
    virtual std::vector<FtdiDevice> enumerate() = 0;
    virtual int open(const char* description) = 0;
    virtual int setBitmode(int handle, unsigned char outputMask, unsigned char mode) = 0;
    virtual int write(int handle, unsigned char pins) = 0;
    virtual int close(int handle) = 0;
    // False when the chip is gone from the bus. libftdi 1.5 answers -1 to any failed write,
    // so a write cannot tell a chip pulled out from one that failed otherwise.
    virtual bool present(int handle) = 0;
};

// libftdi1 on libusb.
class LibFtdiCalls : public FtdiCalls {
public:
    LibFtdiCalls() = default;
    ~LibFtdiCalls() override;
    LibFtdiCalls(const LibFtdiCalls&) = delete;
    LibFtdiCalls& operator=(const LibFtdiCalls&) = delete;

    std::vector<FtdiDevice> enumerate() override;
    int open(const char* description) override;
    int setBitmode(int handle, unsigned char outputMask, unsigned char mode) override;
    int write(int handle, unsigned char pins) override;
    int close(int handle) override;
    bool present(int handle) override;

private:
    std::vector<void*> contexts_; // a handle is an index; closed ones hold nullptr
};

} // namespace lumenvale
