// What the station tells while it works, one event at a time, and the
// outputs that show it: JSON lines, plain lines, or the live board of a
// terminal (usb-iap-flash's outputs.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "link/device_bus.h"

namespace iap::station {

enum class EventKind {
    Found,     // a device was opened for a procedure (list: a device was seen)
    State,     // what a port is doing: waiting, to-boot, restarting, upgrading, done
    Stage,     // a procedure's status text ("Open Device...", "Open Success! BOOT")
    Progress,  // payload bytes the device has accepted; at most one per progress interval
    Result,    // a procedure ended on a device
    Summary,   // the run ended
    Warning,   // something the user should know (the log's folder, a record not written)
};

struct Event {
    EventKind kind = EventKind::Stage;
    std::chrono::system_clock::time_point time = std::chrono::system_clock::now();
    // The port chain ("1-4.2"), or the path of a device whose port is
    // unknown; empty before any device was found.
    std::string port;
    std::string procedure;  // "upgrade" or "to-boot"
    HidDeviceInfo device;   // Found, Result (empty when none was opened)
    // State: the state; Stage: the status text; Result: the text the user
    // sees ("PASS", an error text, "interrupted"); Warning: the warning.
    std::string text;
    std::string outcome;    // Result: the upgrade record's outcome word
    std::string failure;    // Result: what made it fail (failureName); empty when it passed
    bool final = false;     // Result: the device's last result in this run
    int32_t status = -1;    // Result: the last status code; -1 when no device answered
    uint32_t bytes = 0;     // Progress, Result: payload bytes accepted
    uint32_t total = 0;     //   of this many
    double bytesPerSecond = 0;
    int64_t durationMs = 0;  // Result
    // Found (list) and a Result without a device: why a device that was
    // seen cannot be opened; permission: the udev rule fixes it.
    OpenProblem problem;
    bool ready = true;       // Found (list): the device passed every check
    int passed = 0, failed = 0, exitCode = 0;  // Summary
};

class Output {
public:
    virtual ~Output() = default;
    // Any thread.
    virtual void emit(const Event& event) = 0;
    // The coordinating thread, between its passes: a chance to redraw.
    virtual void tick() {}
    // The last call, after every device thread has ended.
    virtual void finish() {}
};

}  // namespace iap::station
