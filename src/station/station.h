// The station: the upgrade and switch-to-boot procedures of the window run on
// many devices at once, each device with its own connection, engine, reporter
// and thread, keyed by the USB port chain it is plugged into.
//
//   flashFirst  the first matching device, found as the window finds it
//   flashPorts  the device on each given port, each awaited until the wait ends
//   flashAll    every matching device present, and those that arrive within the wait
//   runLine     until stopped: each device as soon as it is plugged in, once
//               per plug-in
//
// With toBoot each device first gets the switch to bootloader. A device that
// then leaves the bus is awaited on its port until switchDelay + returnMargin
// after it accepted the switch; one still there switchDelay + leaveMargin
// after that is in its bootloader already. Either way it is upgraded next.
//
// In line mode a port whose upgrade passed is "restarting" for the same
// time: the board restarts into its new firmware, and a device seen on that
// port meanwhile is that board, not a new one, unless it has the IDs the
// board had and another serial number: that is a new board, upgraded at
// once (on a "done" port too). A port is ready for the next board
// ("waiting") once it is empty; a board left on it is "done".
//
// A device whose port is unknown (the system gives no USB location) is keyed
// by its path, and comes back from a restart under another one: it is
// followed by its serial number, else as the one new device that may be it
// (board_trail.h), in its switch to boot and, in line mode and with --all,
// while it restarts. Devices that cannot be told apart are not taken.
//
// Each device runs on a std::jthread that follows the station's stop signal
// and its own stop token: a coordinator that returns or throws stops and
// joins every device thread it started.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "link/device_bus.h"
#include "link/device_id.h"
#include "link/stop_signal.h"
#include "package/upgrade_content.h"
#include "station/events.h"
#include "upgrade/upgrade_record.h"

namespace iap::station {

struct StationTiming {
    std::chrono::milliseconds poll{100};          // between two looks at the bus
    std::chrono::milliseconds leaveMargin{1000};  // after switchDelay: a device still there stays
    std::chrono::milliseconds returnMargin{3000};  // after switchDelay: a device that left is back
    // A device that fails the checks is tried again for this long after it
    // appeared (its node may not be ready, its access rights not yet given).
    std::chrono::milliseconds openGrace{1000};
    std::chrono::milliseconds progressInterval{100};  // at most one progress event per device
};

// The bus as the station's threads last listed it (device_search.cpp).
class BusLooks;
std::shared_ptr<BusLooks> makeBusLooks();

struct Station {
    const UpgradeContent& tool;  // firmware, device IDs, settings
    std::string toolName;     // the upgrade record's tool column
    DeviceBus& bus;           // a SharedBus over the machine's or the simulated bus
    Output& output;
    UpgradeRecord* record;    // one line per attempt; none when null
    const StopSignal& stop;
    StationTiming timing;
    bool toBoot = false;
    std::vector<std::string> ports;  // the ports to work on; empty: every port
    // Shared by every thread of the station: a thread that looks at the bus
    // within half a poll of another's listing takes that list, so that the
    // bus is listed about once a poll however many threads search it.
    std::shared_ptr<BusLooks> looks = makeBusLooks();
};

struct Tally {
    int passed = 0;
    int failed = 0;  // interrupted runs included
    int seen = 0;    // devices opened, or found and not openable
};

// 0 when every device passed, 1 when any failed, 3 when no device was seen.
int exitCodeOf(const Tally& tally);

Tally flashFirst(const Station& station, std::chrono::milliseconds wait);
Tally flashPorts(const Station& station, std::chrono::milliseconds wait);
Tally flashAll(const Station& station, std::chrono::milliseconds wait);
Tally runLine(const Station& station);

}  // namespace iap::station
