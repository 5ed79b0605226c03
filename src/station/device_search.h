// Looking for a device of the package on the bus: the devices with its IDs,
// one on a port that cannot be opened, a port polled until its device
// passes the checks, and a device's return after its switch to boot.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/device_bus.h"
#include "link/device_record.h"
#include "link/stop_signal.h"
#include "station/board_trail.h"
#include "station/station_parts.h"

namespace iap::station {

class BusLooks {
public:
    // Every device on the bus, listed now or by another thread less than
    // fresh ago.
    std::vector<HidDeviceInfo> list(DeviceBus& bus, Clock::duration fresh);

private:
    std::mutex mutex_;
    std::optional<Clock::time_point> listed_;
    std::vector<HidDeviceInfo> devices_;
};

// Every device on the bus, as the station's threads listed it within half a poll.
std::vector<HidDeviceInfo> busDevices(const Station& st);

// The devices with the package's IDs, in enumeration order.
std::vector<HidDeviceInfo> packageDevices(const Station& st);

// A device with the package's IDs on that port (any port when key is empty)
// that cannot be opened, and why.
std::optional<std::pair<HidDeviceInfo, OpenProblem>> unopenable(const Station& st, const std::string& key);

// Polls the bus until a device on the port (with a trail: the device the
// board became) passes the checks, the deadline passes or a stop is requested.
bool searchPort(const Station& st, const std::string& key, Clock::time_point deadline, DeviceRecord& record,
                const StopSignal& stop, BoardTrail* trail = nullptr);

// After an accepted switch: whether the device leaves, and then its return
// on the same port, or with a trail (its port unknown) as the device it
// became. The watcher is a second handle on the device, opened before the
// switch: its read fails the moment the device leaves the bus.
bool awaitReturn(const Station& st, const std::string& key, const HidDeviceInfo& before,
                 std::unique_ptr<HidDevice>& watcher, Clock::time_point answered, DeviceRecord& record,
                 const StopSignal& stop, BoardTrail* trail);

}  // namespace iap::station
