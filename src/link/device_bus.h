// The one seam between the device link and the machine's HID and USB stacks.
// The real bus sits on hidapi (hidraw) and libusb; the simulated bus (sim/)
// holds devices in memory. Everything above this interface is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace iap {

// One HID device as the enumeration lists it.
struct HidDeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t usagePage = 0;
    uint16_t releaseNumber = 0;  // bcdDevice
    std::string serialNumber;    // UTF-8; empty when the device has none
    std::string portChain;       // USB port chain ("1-4.2"); empty when unknown
};

// Why a device cannot be opened, in the system's words.
struct OpenProblem {
    std::string reason;       // "Permission denied"; empty when it opens now
    bool permission = false;  // the user lacks the rights to it
};

struct UsbDeviceDescriptor {
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
};

// An open HID device. Destroying it closes the device.
class HidDevice {
public:
    virtual ~HidDevice() = default;
    // Report descriptor into buf: byte count, or negative on failure.
    virtual int getReportDescriptor(uint8_t* buf, size_t size) = 0;
    // hid_write semantics: negative on failure.
    virtual int write(const uint8_t* data, size_t length) = 0;
    // hid_read_timeout semantics: negative on failure, 0 on time-out,
    // else the number of bytes read.
    virtual int readTimeout(uint8_t* data, size_t length, int milliseconds) = 0;
};

class DeviceBus {
public:
    virtual ~DeviceBus() = default;
    // hid_init / hid_exit. After exit no device call may be made.
    virtual int init() = 0;
    virtual void exit() = 0;
    // All HID devices, in enumeration order (hid_enumerate(0, 0)).
    virtual std::vector<HidDeviceInfo> enumerate() = 0;
    // hid_open_path: null on failure.
    virtual std::unique_ptr<HidDevice> openPath(const std::string& path) = 0;
    // USB device descriptors in the order libusb lists them. Throws
    // std::runtime_error("failed to init libusb.") when the USB library
    // cannot be initialised.
    virtual std::vector<UsbDeviceDescriptor> usbDevices() = 0;
    // Why openPath(path) fails, to tell the user; a bus that cannot say
    // answers with a reason of its own.
    virtual OpenProblem openProblem(const std::string& path) {
        (void)path;
        return {"cannot be opened", false};
    }
};

}  // namespace iap
