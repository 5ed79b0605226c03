// The machine's HID and USB stacks behind the device bus: hidapi for the HID
// devices (hidapi_devices.h), libusb-1.0 for the USB device descriptors
// (libusb_devices.h), and on Linux the hidraw node for report descriptors
// (hidraw_descriptor.h).
#pragma once

#include <memory>

#include "link/device_bus.h"

namespace iap {

std::unique_ptr<DeviceBus> makeRealBus();

}  // namespace iap
