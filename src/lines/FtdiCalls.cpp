// libftdi1 behind the FTDI calls.
#include "lines/FtdiCalls.h"

#include <ftdi.h>
#include <libusb.h>

#include <cerrno>
#include <cstdio>

namespace lumenvale {

namespace {

ftdi_context* Context(const std::vector<void*>& contexts, int handle) {
    return static_cast<ftdi_context*>(contexts.at(static_cast<std::size_t>(handle)));
}

int OpenError(int code) {
    switch (code) {
    case -3: // usb device not found
        return -ENOENT;
    case -4: // unable to open device: in practice no permission on the USB device node
        return -EACCES;
    case -5: // unable to claim device
        return -EBUSY;
    case -11: // illegal description format
        return -EINVAL;
    default:
        return -EIO;
    }
}

int TransferError(int code) {
    // -666: device unavailable; LIBUSB_ERROR_NO_DEVICE: pulled out.
    if (code == -666 || code == LIBUSB_ERROR_NO_DEVICE) {
        return -ENODEV;
    }
    return code == LIBUSB_ERROR_TIMEOUT ? -ETIMEDOUT : -EIO;
}

} // namespace

LibFtdiCalls::~LibFtdiCalls() {
    for (std::size_t i = 0; i < contexts_.size(); ++i) {
        close(static_cast<int>(i));
    }
}

std::vector<FtdiDevice> LibFtdiCalls::enumerate() {
    std::vector<FtdiDevice> found;
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) {
        return found;
    }
    ftdi_device_list* list = nullptr;
    if (ftdi_usb_find_all(ftdi, &list, 0, 0) > 0) {
        for (const ftdi_device_list* d = list; d != nullptr; d = d->next) {
            char product[128] = {};
            char serial[64] = {};
            ftdi_usb_get_strings(ftdi, d->dev, nullptr, 0, product, sizeof product, serial,
                                 sizeof serial);
            libusb_device_descriptor descriptor{};
            libusb_get_device_descriptor(d->dev, &descriptor);
            char description[96];
            if (serial[0] != 0) {
                std::snprintf(description, sizeof description, "s:0x%04x:0x%04x:%s",
                              descriptor.idVendor, descriptor.idProduct, serial);
            } else {
                std::snprintf(description, sizeof description, "i:0x%04x:0x%04x",
                              descriptor.idVendor, descriptor.idProduct);
            }
            found.push_back({description, product, serial});
        }
    }
    ftdi_list_free(&list);
    ftdi_free(ftdi);
    return found;
}

int LibFtdiCalls::open(const char* description) {
    ftdi_context* ftdi = ftdi_new();
    if (ftdi == nullptr) {
        return -ENOMEM;
    }
    const int result = ftdi_usb_open_string(ftdi, description);
    if (result < 0) {
        ftdi_free(ftdi);
        return OpenError(result);
    }
    contexts_.push_back(ftdi);
    return static_cast<int>(contexts_.size() - 1);
}

int LibFtdiCalls::setBitmode(int handle, unsigned char outputMask, unsigned char mode) {
    const int result = ftdi_set_bitmode(Context(contexts_, handle), outputMask, mode);
    return result < 0 ? TransferError(result) : 0;
}

int LibFtdiCalls::write(int handle, unsigned char pins) {
    const int result = ftdi_write_data(Context(contexts_, handle), &pins, 1);
    return result < 0 ? TransferError(result) : 0;
}

bool LibFtdiCalls::present(int handle) {
    // A standard GET_STATUS request: libusb says LIBUSB_ERROR_NO_DEVICE for a chip that left.
    ftdi_context* ftdi = Context(contexts_, handle);
    if (ftdi == nullptr || ftdi->usb_dev == nullptr) {
        return false;
    }
    constexpr unsigned TimeoutMs = 500;
    unsigned char status[2] = {};
    const auto requestType = static_cast<std::uint8_t>(unsigned{LIBUSB_ENDPOINT_IN} |
                                                       unsigned{LIBUSB_REQUEST_TYPE_STANDARD} |
                                                       unsigned{LIBUSB_RECIPIENT_DEVICE});
    const int result =
        libusb_control_transfer(ftdi->usb_dev, requestType, LIBUSB_REQUEST_GET_STATUS, 0, 0, status,
                                sizeof status, TimeoutMs);
    return result != LIBUSB_ERROR_NO_DEVICE;
}

int LibFtdiCalls::close(int handle) {
    void*& context = contexts_.at(static_cast<std::size_t>(handle));
    if (context == nullptr) {
        return 0;
    }
    auto* ftdi = static_cast<ftdi_context*>(context);
    const int result = ftdi_usb_close(ftdi);
    ftdi_free(ftdi);
    context = nullptr;
    return result < 0 ? -EIO : 0;
}

} // namespace lumenvale
