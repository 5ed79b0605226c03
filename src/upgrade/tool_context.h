// What the procedures and tasks of the tool share: the loaded package, the
// device bus, the one device connection, the reporter, the busy state and the
// process flags. The application creates exactly one; tests create as many as
// they like.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/connection.h"
#include "link/device_bus.h"
#include "link/stop_signal.h"
#include "package/upgrade_content.h"
#include "upgrade/reporter.h"
#include "upgrade/upgrade_record.h"

namespace iap {

// Busy state values.
enum BusyState : int32_t {
    BUSY_IDLE = 0,
    BUSY_DEVINFO = 1,
    BUSY_UPGRADE = 2,
    BUSY_TO_BOOT = 3,  // the switch to bootloader runs (on the main thread)
    BUSY_AUTO_WAITING = 4,
    BUSY_AUTO_ATTEMPT = 5,
};

struct ToolContext {
    const UpgradeContent* package = nullptr;  // filled by the loader, then read-only
    DeviceBus* bus = nullptr;                // real or simulated
    DeviceConnection* connection = nullptr;  // the one device record with its buffers
    Reporter* reporter = nullptr;            // where the procedures' texts and progress go
    UpgradeRecord* record = nullptr;         // one line per attempt; none when null

    std::atomic<int32_t> busy{BUSY_IDLE};
    std::atomic<bool> autoStart{false};
    StopSignal exitRequested;    // ends stepping loops and auto-start (set at shutdown)
    StopSignal searchCancelled;  // ends device searches (set at shutdown)

    // Pause between two auto-start attempts, in milliseconds.
    int32_t autoStartPauseMs = 2000;
};

}  // namespace iap
