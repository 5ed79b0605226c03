// The coordinators' look at the bus (flashAll and runLine): the devices that
// passed the checks, by port, and the ports whose devices cannot be opened.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "link/device_bus.h"
#include "link/device_record.h"
#include "station/board_trail.h"
#include "station/station_parts.h"

namespace iap::station {

// A device that fails is tried again in later looks until openGrace has
// passed since it appeared; then it is judged: not the package's interface
// (left alone while it stays), or not openable (told once).
class Scanner {
public:
    struct Problem {
        std::string key;
        HidDeviceInfo info;
        OpenProblem problem;
    };
    struct Look {
        std::vector<std::pair<std::string, DeviceRecord>> chosen;
        std::vector<Problem> problems;
        std::map<std::string, HidDeviceInfo> present;  // ports with a device of the package's IDs
        bool pending = false;                          // a device is still in its grace time
    };
    using Wanted = std::function<bool(const std::string& key, const HidDeviceInfo& device)>;

    // candidates: the package's devices (packageDevices), each keyed as the
    // followers say; a device they hold is not wanted.
    Look look(const Station& st, const std::vector<HidDeviceInfo>& candidates, const Followers& followers,
              const Wanted& wanted);

private:
    struct Seen {
        Clock::time_point first;
        bool judged = false;
    };
    std::map<std::string, Seen> paths_;
};

// A port whose device cannot be opened: an attempt that found no device, with the reason.
void tellProblem(const Station& st, const Scanner::Problem& p);

}  // namespace iap::station
