// Boards whose USB port is unknown. Where the system gives no location (a
// Windows device without one; Wine never models the USB parent), a device
// is keyed by its path, and a board that restarts (into its bootloader, or
// into its new firmware) comes back under another path. Such a board is
// followed among the package's devices that appeared since it was last
// seen: the one with the board's serial number, or else the only one that
// may be the board (none with another serial number). Where several may be
// it, none is taken for it.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/device_bus.h"

namespace iap::station {

class BoardTrail {
public:
    // From the board as it was opened, among the package's devices present then.
    BoardTrail(const HidDeviceInfo& board, const std::vector<HidDeviceInfo>& present);
    // One look at the package's devices: the paths that left are forgotten,
    // so a device that comes back on one is new.
    void look(const std::vector<HidDeviceInfo>& present);
    void forget(const std::string& path);
    // A device without a port that appeared since and has no other serial number.
    bool mayBe(const HidDeviceInfo& device) const;
    // What the board became among devices: the one new device with its
    // serial number, else the only one that may be it; none otherwise.
    std::optional<HidDeviceInfo> find(const std::vector<HidDeviceInfo>& devices) const;

private:
    std::string serial_;
    std::set<std::string> known_;
};

// The boards without a port of a coordinator (usb-iap-flash's --all and
// line), each followed from the start of its run until the end of its time
// (switchDelay + returnMargin after the run), while another part of the
// program opens it again. A device found to be a board's takes the board's key.
class Followers {
public:
    using Clock = std::chrono::steady_clock;
    // whileRunning: its run may bring it back under another path (--to-boot).
    void started(const std::string& key, const HidDeviceInfo& board, const std::vector<HidDeviceInfo>& present,
                 bool whileRunning);
    // Its run ended; the devices it opened are the board's.
    void ended(const std::string& key, const std::vector<HidDeviceInfo>& opened, Clock::time_point until);
    // One look at the package's devices, each free one not yet any run's:
    // a board whose run ended gets the device it became, and at the end of
    // its time every device that may still be it (none is taken for a new board).
    template <typename Free>
    void look(const std::vector<HidDeviceInfo>& present, Clock::time_point now, Free free) {
        std::vector<HidDeviceInfo> unclaimed;
        for (const HidDeviceInfo& d : present) {
            if (!keys_.count(d.path) && free(d)) unclaimed.push_back(d);
        }
        settle(present, unclaimed, now);
    }
    // The board's key for a device found to be its, else the device's own.
    std::string keyOf(const HidDeviceInfo& device) const;
    // True for a free device that a followed board may have become.
    bool holds(const HidDeviceInfo& device) const;

private:
    struct Board {
        BoardTrail trail;
        bool whileRunning = false;
        bool running = true;
        Clock::time_point until{};
    };
    void settle(const std::vector<HidDeviceInfo>& present, const std::vector<HidDeviceInfo>& unclaimed,
                Clock::time_point now);
    std::map<std::string, Board> boards_;     // by key
    std::map<std::string, std::string> keys_;  // path -> board key
};

}  // namespace iap::station
