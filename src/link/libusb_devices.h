// USB device descriptors through libusb-1.0, for the device information query.
#pragma once

#include <vector>

#include "link/device_bus.h"

namespace iap {

// libusb_init with a context of its own, the device list in libusb's order,
// each device's descriptor, the list released, libusb_exit. Throws
// std::runtime_error("failed to init libusb.") when libusb cannot start.
std::vector<UsbDeviceDescriptor> libusbDeviceDescriptors();

}  // namespace iap
