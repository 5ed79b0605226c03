// What the system tells about a HID node beyond hidapi: the USB port chain
// of the device the node belongs to, and why the node cannot be opened.
// Linux reads both from sysfs and the node itself. Windows takes the port
// chain from the USB device node above the HID device (hid_node_win.cpp) and
// cannot say why a device does not open.
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

// True for a port chain: Linux's ("1-4", "3-1.2.4") or Windows'
// ("PCIROOT0_PCI1400-4.2", "_SB.PCI0.XHC.RHUB-HS04.2"; usb_location.h).
bool isPortChain(std::string_view text);

// The port chain of a hidraw node ("/dev/hidraw3"), from the device link of
// /sys/class/hidraw/hidraw3; empty when the node is not on USB or unknown.
std::string hidNodePortChain(const std::string& nodePath);

// Why the node cannot be opened for reading and writing now (reason empty
// when it can).
OpenProblem hidNodeOpenProblem(const std::string& nodePath);

}  // namespace iap
