// The report descriptor of a Linux hidraw node: hidapi 0.13 has no call for
// it, so it comes from sysfs or from the node's own ioctl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace iap {

// Reads the descriptor of a node path ("/dev/hidraw3") from
// /sys/class/hidraw/<node>/device/report_descriptor, or else with
// HIDIOCGRDESCSIZE / HIDIOCGRDESC on the node. Byte count, or -1.
int readHidrawDescriptor(const std::string& nodePath, uint8_t* buf, size_t size);

}  // namespace iap
