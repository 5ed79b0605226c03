#include "station/device_search.h"

#include <algorithm>

#include "link/device_list.h"
#include "link/discovery.h"

namespace iap::station {

using std::chrono::milliseconds;

std::shared_ptr<BusLooks> makeBusLooks() { return std::make_shared<BusLooks>(); }

std::vector<HidDeviceInfo> BusLooks::list(DeviceBus& bus, Clock::duration fresh) {
    // The others wait meanwhile, as they would for the bus itself.
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    if (!listed_ || now - *listed_ >= fresh) {
        devices_ = bus.enumerate();
        listed_ = Clock::now();
    }
    return devices_;
}

std::vector<HidDeviceInfo> busDevices(const Station& st) {
    return st.looks ? st.looks->list(st.bus, st.timing.poll / 2) : st.bus.enumerate();
}

std::vector<HidDeviceInfo> packageDevices(const Station& st) {
    std::vector<HidDeviceInfo> out;
    for (HidDeviceInfo& info : busDevices(st)) {
        if (hasPackageIds(info, st.tool.deviceIds)) out.push_back(std::move(info));
    }
    return out;
}

std::optional<std::pair<HidDeviceInfo, OpenProblem>> unopenable(const Station& st, const std::string& key) {
    for (const HidDeviceInfo& info : busDevices(st)) {
        if (!hasPackageIds(info, st.tool.deviceIds) || (!key.empty() && portKey(info) != key)) continue;
        DeviceRecord record;
        OpenProblem problem;
        if (openOrSayWhy(st.bus, info, st.tool.deviceIds, record, problem) == DeviceCheck::OpenFailed) {
            return std::make_pair(info, problem);
        }
    }
    return std::nullopt;
}

bool searchPort(const Station& st, const std::string& key, Clock::time_point deadline, DeviceRecord& record,
                const StopSignal& stop, BoardTrail* trail) {
    for (;;) {
        std::vector<HidDeviceInfo> devices = packageDevices(st);
        if (trail) {
            trail->look(devices);
            const std::optional<HidDeviceInfo> found = trail->find(devices);
            devices = found ? std::vector<HidDeviceInfo>{*found} : std::vector<HidDeviceInfo>{};
        }
        for (const HidDeviceInfo& info : devices) {
            if ((trail || portKey(info) == key) &&
                openMatching(st.bus, info, st.tool.deviceIds, record) == DeviceCheck::Chosen) {
                return true;
            }
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline || stop.waitFor(std::min<Clock::duration>(st.timing.poll, deadline - now))) {
            return false;
        }
    }
}

bool awaitReturn(const Station& st, const std::string& key, const HidDeviceInfo& before,
                 std::unique_ptr<HidDevice>& watcher, Clock::time_point answered, DeviceRecord& record,
                 const StopSignal& stop, BoardTrail* trail) {
    const Clock::time_point stays = answered + switchDelayOf(st) + st.timing.leaveMargin;
    const Clock::time_point back = answered + switchDelayOf(st) + st.timing.returnMargin;
    bool left = false;
    if (watcher) {
        uint8_t report[64];
        for (Clock::time_point now; !left && (now = Clock::now()) < stays;) {
            const auto wait = std::chrono::ceil<milliseconds>(stays - now).count();
            // Reports the device sent before (copies of its answers) are read and dropped.
            left = watcher->readTimeout(report, sizeof report, static_cast<int>(wait)) < 0;
        }
        watcher.reset();
    } else {
        // No second handle: the node leaving the list is the sign.
        while (!left && Clock::now() < stays && !stop.requested()) {
            const auto list = busDevices(st);
            left = std::none_of(list.begin(), list.end(), [&](const HidDeviceInfo& i) { return i.path == before.path; });
            if (!left) stop.waitFor(st.timing.poll);
        }
    }
    if (stop.requested()) return false;
    if (!left) {
        for (const HidDeviceInfo& info : busDevices(st)) {
            if (info.path == before.path) {
                return openMatching(st.bus, info, st.tool.deviceIds, record) == DeviceCheck::Chosen;
            }
        }
    }
    if (trail) trail->forget(before.path);  // it left: a device there now is new
    return searchPort(st, key, back, record, stop, trail);
}

}  // namespace iap::station
