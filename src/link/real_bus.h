// The machine's HID and USB stacks: hidapi (hidraw back-end) and libusb-1.0.
#pragma once

#include <memory>

#include "link/device_bus.h"

namespace iap {

// Report descriptors come from /sys/class/hidraw/<node>/device/
// report_descriptor, or from HIDIOCGRDESCSIZE/HIDIOCGRDESC on the node.
std::unique_ptr<DeviceBus> makeRealBus();

// Reads the report descriptor of a hidraw node path ("/dev/hidraw3"):
// byte count, or -1.
int readHidrawDescriptor(const std::string& nodePath, uint8_t* buf, size_t size);

}  // namespace iap
