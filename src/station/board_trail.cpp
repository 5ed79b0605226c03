#include "station/board_trail.h"

#include <algorithm>

#include "link/device_list.h"

namespace iap::station {
namespace {

bool listed(const std::vector<HidDeviceInfo>& devices, const std::string& path) {
    return std::any_of(devices.begin(), devices.end(), [&](const HidDeviceInfo& d) { return d.path == path; });
}

}  // namespace

BoardTrail::BoardTrail(const HidDeviceInfo& board, const std::vector<HidDeviceInfo>& present)
    : serial_(board.serialNumber) {
    known_.insert(board.path);
    for (const HidDeviceInfo& d : present) known_.insert(d.path);
}

void BoardTrail::look(const std::vector<HidDeviceInfo>& present) {
    std::erase_if(known_, [&](const std::string& path) { return !listed(present, path); });
}

void BoardTrail::forget(const std::string& path) { known_.erase(path); }

bool BoardTrail::mayBe(const HidDeviceInfo& device) const {
    return device.portChain.empty() && !known_.count(device.path) &&
           (serial_.empty() || device.serialNumber.empty() || device.serialNumber == serial_);
}

std::optional<HidDeviceInfo> BoardTrail::find(const std::vector<HidDeviceInfo>& devices) const {
    std::vector<const HidDeviceInfo*> candidates, sameSerial;
    for (const HidDeviceInfo& d : devices) {
        if (!mayBe(d)) continue;
        candidates.push_back(&d);
        if (!serial_.empty() && d.serialNumber == serial_) sameSerial.push_back(&d);
    }
    if (sameSerial.size() == 1) return *sameSerial.front();
    if (sameSerial.empty() && candidates.size() == 1) return *candidates.front();
    return std::nullopt;
}

void Followers::started(const std::string& key, const HidDeviceInfo& board, const std::vector<HidDeviceInfo>& present,
                        bool whileRunning) {
    boards_.insert_or_assign(key, Board{BoardTrail(board, present), whileRunning});
}

void Followers::ended(const std::string& key, const std::vector<HidDeviceInfo>& opened, Clock::time_point until) {
    auto it = boards_.find(key);
    if (it == boards_.end()) return;
    it->second.running = false;
    it->second.until = until;
    for (const HidDeviceInfo& d : opened) keys_[d.path] = key;
}

void Followers::settle(const std::vector<HidDeviceInfo>& present, const std::vector<HidDeviceInfo>& unclaimed,
                       Clock::time_point now) {
    std::erase_if(keys_, [&](const auto& k) { return !listed(present, k.first); });
    std::vector<HidDeviceInfo> free = unclaimed;
    const auto claim = [&](const HidDeviceInfo& d, const std::string& key) {
        keys_[d.path] = key;
        std::erase_if(free, [&](const HidDeviceInfo& f) { return f.path == d.path; });
    };
    for (auto it = boards_.begin(); it != boards_.end();) {
        Board& b = it->second;
        b.trail.look(present);
        bool over = false;
        if (!b.running) {
            if (const auto found = b.trail.find(free)) {
                claim(*found, it->first);
                over = true;
            } else if (now >= b.until) {
                // Time is up and the devices that may be the board cannot be
                // told apart: it takes one, and those no other board may be.
                bool took = false;
                for (const HidDeviceInfo& d : std::vector<HidDeviceInfo>(free)) {
                    if (!b.trail.mayBe(d)) continue;
                    const bool another = std::any_of(boards_.begin(), boards_.end(), [&](const auto& o) {
                        return o.first != it->first && o.second.trail.mayBe(d);
                    });
                    if (!took || !another) claim(d, it->first);
                    took = true;
                }
                over = true;
            }
        }
        it = over ? boards_.erase(it) : std::next(it);
    }
}

std::string Followers::keyOf(const HidDeviceInfo& device) const {
    const auto it = keys_.find(device.path);
    return it == keys_.end() ? portKey(device) : it->second;
}

bool Followers::holds(const HidDeviceInfo& device) const {
    if (keys_.count(device.path)) return false;
    return std::any_of(boards_.begin(), boards_.end(), [&](const auto& b) {
        return (!b.second.running || b.second.whileRunning) && b.second.trail.mayBe(device);
    });
}

}  // namespace iap::station
