// hidapi behind the HID calls.
#include "lines/HidCalls.h"

#include <hidapi/hidapi.h>

#include <cerrno>

namespace lumenvale {

namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return out;
}

// hidapi's hidraw backend leaves the errno of the failed system call; a failure without one is
// an input/output error.
int Failure() {
    return errno != 0 ? -errno : -EIO;
}

} // namespace

HidapiCalls::~HidapiCalls() {
    for (void* device : devices_) {
        if (device != nullptr) {
            hid_close(static_cast<hid_device*>(device));
        }
    }
    if (initialised_) {
        hid_exit();
    }
}

std::vector<HidDevice> HidapiCalls::enumerate(std::uint16_t vendor, std::uint16_t product) {
    std::vector<HidDevice> found;
    if (!initialised_ && hid_init() != 0) {
        return found;
    }
    initialised_ = true;
    hid_device_info* list = hid_enumerate(vendor, product);
    for (const hid_device_info* d = list; d != nullptr; d = d->next) {
        found.push_back({d->path != nullptr ? d->path : "", d->vendor_id, d->product_id,
                         Narrow(d->serial_number), Narrow(d->product_string)});
    }
    hid_free_enumeration(list);
    return found;
}

int HidapiCalls::open(const char* path) {
    if (!initialised_ && hid_init() != 0) {
        return -EIO;
    }
    initialised_ = true;
    errno = 0;
    hid_device* device = hid_open_path(path);
    if (device == nullptr) {
        return Failure();
    }
    devices_.push_back(device);
    return static_cast<int>(devices_.size() - 1);
}

int HidapiCalls::write(int handle, const unsigned char* data, std::size_t length) {
    auto* device = static_cast<hid_device*>(devices_.at(static_cast<std::size_t>(handle)));
    errno = 0;
    const int written = hid_write(device, data, length);
    return written < 0 ? Failure() : written;
}

int HidapiCalls::close(int handle) {
    void*& device = devices_.at(static_cast<std::size_t>(handle));
    if (device != nullptr) {
        hid_close(static_cast<hid_device*>(device));
        device = nullptr;
    }
    return 0;
}

} // namespace lumenvale
