#include "link/device_list.h"

#include <algorithm>

#include "link/discovery.h"

namespace iap {

std::string portKey(const HidDeviceInfo& device) { return device.portChain.empty() ? device.path : device.portChain; }

bool hasPackageIds(const HidDeviceInfo& device, const std::vector<DeviceIdEntry>& entries) {
    uint16_t vid = 0, pid = 0;
    if (!deviceVidPid(device, vid, pid)) return false;
    return std::any_of(entries.begin(), entries.end(),
                       [&](const DeviceIdEntry& e) { return e.vendorId == vid && e.productId == pid; });
}

DeviceCheck openOrSayWhy(DeviceBus& bus, const HidDeviceInfo& device, const std::vector<DeviceIdEntry>& entries,
                         DeviceRecord& record, OpenProblem& problem) {
    const DeviceCheck check = openMatching(bus, device, entries, record);
    if (check == DeviceCheck::OpenFailed) {
        problem = bus.openProblem(device.path);
        if (problem.reason.empty()) problem.reason = "cannot be opened";
    }
    return check;
}

std::vector<ListedDevice> listDevices(DeviceBus& bus, const std::vector<DeviceIdEntry>& entries) {
    std::vector<ListedDevice> out;
    for (const HidDeviceInfo& info : bus.enumerate()) {
        if (!hasPackageIds(info, entries)) continue;
        DeviceRecord record;
        OpenProblem problem;
        const DeviceCheck check = openOrSayWhy(bus, info, entries, record, problem);
        if (check == DeviceCheck::Chosen || check == DeviceCheck::OpenFailed) {
            out.push_back({info, check == DeviceCheck::Chosen, problem});
        }
    }
    return out;
}

}  // namespace iap
