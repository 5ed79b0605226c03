// The devices of a package among those attached, as a program that works on
// many at once sees them: keyed by the USB port they are plugged into.
#pragma once

#include <string>
#include <vector>

#include "link/device_bus.h"
#include "link/device_id.h"
#include "link/device_record.h"
#include "link/discovery.h"

namespace iap {

// The key of a device: its port chain, or its path when the port is unknown.
std::string portKey(const HidDeviceInfo& device);

// True when the device's vendor and product IDs are those of an entry.
bool hasPackageIds(const HidDeviceInfo& device, const std::vector<DeviceIdEntry>& entries);

// Opens the device into record when it is the package's interface (the
// checks of openMatching); when it cannot be opened, problem says why
// ("cannot be opened" when the bus cannot tell).
DeviceCheck openOrSayWhy(DeviceBus& bus, const HidDeviceInfo& device, const std::vector<DeviceIdEntry>& entries,
                         DeviceRecord& record, OpenProblem& problem);

// Every attached device with the package's IDs that is the package's
// interface (usage page 0xFF00, report ID) or cannot be opened to tell.
struct ListedDevice {
    HidDeviceInfo info;
    bool ready = false;
    OpenProblem problem;  // when not ready
};
std::vector<ListedDevice> listDevices(DeviceBus& bus, const std::vector<DeviceIdEntry>& entries);

}  // namespace iap
