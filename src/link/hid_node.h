// What the system tells about a HID node beyond hidapi: the USB port chain
// of the device the node belongs to, and why the node cannot be opened.
// Linux reads both from sysfs and the node itself; elsewhere both answers
// are empty until that system's way is written.
#pragma once

#include <string>
#include <string_view>

#include "link/device_bus.h"

namespace iap {

// The port chain of a HID device from its resolved sysfs path: that of the
// USB interface it sits on ("1-4.2" for ".../usb1/1-4/1-4.2/1-4.2:1.0/
// 0003:1234:5679.0001"), bus number, dash, the hub ports joined by dots.
// Empty for a HID device that is not on a USB interface (Bluetooth, uhid).
std::string portChainFromSysfsPath(std::string_view devicePath);

// True for a text of that form ("1-4", "3-1.2.4").
bool isPortChain(std::string_view text);

// The port chain of a hidraw node ("/dev/hidraw3"), from the device link of
// /sys/class/hidraw/hidraw3; empty when the node is not on USB or unknown.
std::string hidNodePortChain(const std::string& nodePath);

// Why the node cannot be opened for reading and writing now (reason empty
// when it can).
OpenProblem hidNodeOpenProblem(const std::string& nodePath);

}  // namespace iap
