// usb-iap-flash: the commands over any device bus, so that the tests run
// them on the simulated bus and the front end (usb_iap_flash_main.cpp) on
// the machine's.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "link/device_bus.h"
#include "link/stop_signal.h"
#include "station/station.h"
#include "upgrade/upgrade_record.h"

namespace iap::flash {

struct FlashIo {
    DeviceBus& bus;
    std::ostream& out;  // the program's output (board, lines, JSON)
    std::ostream& err;  // usage and package errors, hints
    StopSignal& stop;
    // Called once before flash or line touch a device: starts the log and
    // returns the upgrade record (null: none).
    std::function<UpgradeRecord*()> startLog;
    bool terminal = false;  // out is a terminal: the live board
    int width = 80;         // its width in characters
    station::StationTiming timing;
};

// A startLog for FlashIo: the window's log and upgrade record, beside each
// other; the record is kept in record, which outlives the run.
std::function<UpgradeRecord*()> windowLog(std::unique_ptr<UpgradeRecord>& record);

// Runs the command in args (the words after the program name); returns the
// exit code: 0 every selected device passed, 1 any failed, 2 a usage or
// package error, 3 no device was found.
int runFlashTool(const std::vector<std::string>& args, FlashIo& io);

// The udev rule that gives the logged-in user access to the devices of the
// package (TAG+="uaccess" for each VID:PID, on hidraw and usb).
std::string udevRule(const std::vector<DeviceIdEntry>& entries, const std::string& toolName);

}  // namespace iap::flash
