#include "link/libusb_devices.h"

#include <libusb.h>

#include <stdexcept>

namespace iap {

std::vector<UsbDeviceDescriptor> libusbDeviceDescriptors() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) {
        throw std::runtime_error("failed to init libusb.");
    }
    std::vector<UsbDeviceDescriptor> result;
    libusb_device** devices = nullptr;
    const ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(devices[i], &desc) == 0) {
            result.push_back(UsbDeviceDescriptor{desc.idVendor, desc.idProduct, desc.bcdDevice});
        }
    }
    if (count >= 0) {
        libusb_free_device_list(devices, 1);
    }
    libusb_exit(context);
    return result;
}

}  // namespace iap
