// HID devices through hidapi: enumeration, opening by path, 64-byte report
// writes and reads with a time-out. The report descriptor comes from the
// platform: hidraw on Linux, the HID parser's caps on Windows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/device_bus.h"

namespace iap {

// hid_enumerate(0, 0) in its order, the list released again.
std::vector<HidDeviceInfo> hidapiEnumerate();

// hid_open_path: null on failure. Destroying the device calls hid_close.
std::unique_ptr<HidDevice> hidapiOpen(const std::string& path);

// The report descriptor of a device path, from the platform
// (hidraw_descriptor.cpp, hid_caps_descriptor_win.cpp). Byte count, or -1.
int platformReportDescriptor(const std::string& path, uint8_t* buf, size_t size);

}  // namespace iap
