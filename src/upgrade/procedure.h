// One procedure on one device: open it, run the IAP engine to its end, tell
// the user the outcome, close it. The window's upgrade (IAPProcess) and
// switch to bootloader (ToBootProcess) are this piece with their own log
// lines; a program that works on several devices at once runs it once per
// device, each with its own connection, reporter and thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/connection.h"
#include "link/device_bus.h"
#include "link/failure.h"
#include "link/stop_signal.h"
#include "package/settings.h"
#include "upgrade/iap_engine.h"
#include "upgrade/reporter.h"

namespace iap {

// What one procedure says and does, besides what every procedure does.
struct ProcedureScript {
    // A log line (none when text is null) and whether it is written before
    // the UI events of its moment rather than after them. The exception,
    // device-error and refusal lines take the text shown as their argument.
    struct Line {
        const char* text = nullptr;
        bool beforeEvents = false;
    };
    Line openDevice, openFailed, openSuccess, exception, passed, deviceError, timeout, refused;
    // The engine's step: upgradeStep or toBootStep.
    bool (IAPEngine::*step)() = nullptr;
    // A failed engine with errorFlag 1 shows the status code and its message;
    // otherwise every failed engine shows the time-out text.
    bool showsDeviceErrors = false;
    // The engine's progress callback.
    void (*onProgress)(Reporter&, const IAPEngine&) = nullptr;
};

// How an attempt ended.
enum class Outcome {
    Refused,      // the firmware cannot be run: no device was looked for
    OpenFailed,   // no device was opened
    Passed,
    DeviceError,  // the device answered a non-zero status code
    Timeout,      // the engine ended without a device error
    Failed,       // the link raised an exception: its text is the result
};

struct AttemptResult {
    Outcome outcome = Outcome::OpenFailed;
    std::string text;          // as the user saw it: "PASS", "Open Failed!", an error text
    Failure failure = Failure::None;  // what made it fail, for scripts and the record
    int32_t deviceStatus = 0;  // the last status code the device answered
    HidDeviceInfo device;      // how the opened device was enumerated (empty when none)
    std::chrono::system_clock::time_point start;  // when the attempt began
    std::chrono::milliseconds duration{0};        // how long it took
};

// What one run works on. The connection is this device's own (its record and
// buffers); the opener fills its record, and the run closes it at the end.
struct ProcedureRun {
    const std::vector<uint8_t>& firmware;
    const Settings& settings;
    DeviceConnection& connection;
    Reporter& reporter;
    const StopSignal& exitRequested;  // ends the stepping loop
};

// Opens the device into the record; true when the record now holds one.
using DeviceOpener = std::function<bool(DeviceRecord&)>;

AttemptResult runProcedure(const ProcedureScript& script, const ProcedureRun& run,
                           const DeviceOpener& open);

}  // namespace iap
