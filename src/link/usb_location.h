// The USB port chain of a device on Windows, made from the location paths
// Windows gives its USB device node (DEVPKEY_Device_LocationPaths).
//
// A location path names a node's place in the device tree: one element per
// node from the root down, each the name of the bus and the node's place on
// it, joined by "#". "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)" is the
// device on port 2 of the hub on root port 4 of the host controller at PCI
// device 0x14, function 0. Windows often gives the same node a second path
// through the firmware's ACPI names, where the root port has a name instead
// of a number: "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)#USB(2)".
// An interface of a composite device adds "#USBMI(n)" to its device's path.
//
// The port chain, like Linux's "1-4.2": CONTROLLER "-" PORT ("." PORT)...
//   from a PCI path: the elements before USBROOT(k), each its name and
//     argument without the parentheses, joined by "_" ("_USBROOTk" added
//     when k is not 0), then the USB(n) numbers:
//     "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)" gives "PCIROOT0_PCI1400-4.2";
//   from an ACPI path: the ACPI names above the root port, their "_"
//     padding dropped, joined by "." (ACPI's own way of writing them), then
//     the root port's name and the USB(n) numbers:
//     "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)#USB(2)" gives
//     "_SB.PCI0.XHC.RHUB-HS04.2".
// The same physical port always gives the same text, and only letters,
// digits, "_", "." and "-" appear in it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace iap {

// The port chain of one location path; empty when the path is not one of a
// USB device (a root hub, another bus, or text of another form).
std::string portChainFromLocationPath(std::string_view path);

// The port chain of a node from all its location paths: the first PCI path
// that gives one, else the first path that gives one; empty when none does.
std::string portChainFromLocationPaths(const std::vector<std::string>& paths);

}  // namespace iap
