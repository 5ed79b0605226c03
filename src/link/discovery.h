// Device discovery: polls the HID device list until a device matches a device
// ID entry by vendor ID, product ID, usage page 0xFF00 and the first report
// ID of its report descriptor, and opens it.
//
// Vendor and product IDs: a path that carries the "VID_" and "PID_" tokens
// (Windows) is judged by those tokens alone, compared without regard to
// case, as Windows writes them in lower case ("\\?\hid#vid_1234&pid_5679#...");
// a path with only one of the two does not match. A path with no such token
// at all (Linux hidraw: "/dev/hidraw3") is judged by the vendor and product
// IDs of the enumeration record.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/device_bus.h"
#include "link/device_id.h"
#include "link/device_record.h"
#include "link/stop_signal.h"

namespace iap {

inline constexpr uint16_t kVendorUsagePage = 0xFF00;
inline constexpr int kSearchPollMs = 500;

// Reads the four characters after the first "VID_" and the first "PID_",
// each token compared without regard to case ("vid_", "Pid_"), as
// hexadecimal (a non-hex character or the end of the path counts as 0).
// False when the path lacks either token.
bool pathVidPid(const std::string& path, uint16_t& vid, uint16_t& pid);

// The vendor and product IDs of an enumerated device under the rule above;
// false when the path carries one token without the other.
bool deviceVidPid(const HidDeviceInfo& device, uint16_t& vid, uint16_t& pid);

// How the checks of one device against one entry ended, in their order.
enum class DeviceCheck {
    Chosen,
    OtherIds,        // vendor or product ID differ (nothing was opened)
    OpenFailed,      // the device could not be opened
    NoDescriptor,    // its report descriptor could not be read, or is empty
    NoReportId,      // the descriptor has no Report ID item
    NoUsagePage,     // nor a two-byte Usage Page item
    OtherUsagePage,  // the usage page is not 0xFF00
    OtherReportId,   // the first report ID is not the entry's
};

// The checks of matchDevice with their outcome; on Chosen the device is open
// in record (handle, report ID, usage page, enumeration record).
DeviceCheck checkDevice(DeviceBus& bus, const HidDeviceInfo& device, uint16_t vid, uint16_t pid,
                        uint8_t reportId, DeviceRecord& record);

// True when the device is chosen; it is then open in record (handle, report
// ID, usage page). A candidate that was opened and not chosen is closed.
bool matchDevice(DeviceBus& bus, const HidDeviceInfo& device, uint16_t vid, uint16_t pid,
                 uint8_t reportId, DeviceRecord& record);

// One given device under every entry in list order, as a search pass tries
// it: Chosen (open in record) for the first entry it matches, otherwise the
// outcome of the first entry whose vendor and product IDs it has (OtherIds
// when there is none).
DeviceCheck openMatching(DeviceBus& bus, const HidDeviceInfo& device, const std::vector<DeviceIdEntry>& entries,
                         DeviceRecord& record);

// The time a search runs on. The tool searches on the steady clock; a test
// passes a clock of its own to count passes and reach deadlines at once.
struct SearchClock {
    using time_point = std::chrono::steady_clock::time_point;
    std::function<time_point()> now;
    std::function<void(time_point)> sleepUntil;
};

// The steady clock and std::this_thread::sleep_until.
const SearchClock& steadySearchClock();

// Afterwards record.handle is set if and only if a device was found. Passes
// run every 500 ms until timeoutMs has passed or searchCancelled is set.
void SearchDevice(DeviceBus& bus, std::vector<DeviceIdEntry> entries, int timeoutMs,
                  DeviceRecord& record, const StopSignal& searchCancelled,
                  const SearchClock& clock = steadySearchClock());

}  // namespace iap
