// Line mode: until stopped, each device as soon as it is plugged in, once
// per plug-in (station.h tells the states of a port).
#include <map>

#include "link/device_list.h"
#include "station/bus_scanner.h"
#include "station/device_job.h"
#include "station/device_search.h"

namespace iap::station {
namespace {

// True when device is another board than the one a port's procedures
// opened: it has the IDs of one of those devices and another serial number.
// A board restarting into its application (other IDs) or a device without a
// serial number is taken to be the same board.
bool anotherBoard(const std::vector<HidDeviceInfo>& board, const HidDeviceInfo& device) {
    for (const HidDeviceInfo& seen : board) {
        if (seen.vendorId == device.vendorId && seen.productId == device.productId) {
            return !seen.serialNumber.empty() && !device.serialNumber.empty() &&
                   seen.serialNumber != device.serialNumber;
        }
    }
    return false;
}

}  // namespace

Tally runLine(const Station& st) {
    struct Slot {
        std::string state;
        std::unique_ptr<Job> job;
        Clock::time_point until{};          // restarting: the board is back by then
        bool away = false;                  // restarting: the port was seen empty
        std::vector<HidDeviceInfo> board;  // the last board, as its procedures opened it
    };
    std::map<std::string, Slot> slots;
    const auto setState = [&](const std::string& key, Slot& slot, const char* state) {
        if (slot.state == state) return;
        slot.state = state;
        emitState(st, key, state);
    };
    for (const std::string& port : st.ports) setState(port, slots[port], "waiting");

    Scanner scanner;
    // Boards without a port: a device they become is on their port.
    Followers followers;
    Tally tally;
    while (!st.stop.requested()) {
        const Clock::time_point now = Clock::now();
        const std::vector<HidDeviceInfo> devices = packageDevices(st);
        // Runs that ended: a board that passed restarts into its firmware.
        for (auto& [key, slot] : slots) {
            if (!slot.job || !slot.job->done.load()) continue;
            const bool passed = slot.job->passed;
            count(tally, *slot.job);
            slot.board = std::move(slot.job->devices);
            slot.job.reset();
            followers.ended(key, slot.board, now + restartTimeOf(st));
            if (passed) {
                slot.until = now + restartTimeOf(st);
                slot.away = false;
                setState(key, slot, "restarting");
            } else {
                setState(key, slot, "done");  // "waiting" below once the port is empty
            }
        }
        followers.look(devices, now, [&](const HidDeviceInfo& d) { return !slots.count(portKey(d)); });
        const auto wanted = [&](const std::string& key, const HidDeviceInfo& device) {
            if (!selected(st, key)) return false;
            auto it = slots.find(key);
            if (it == slots.end() || it->second.state == "waiting") return true;
            // A board swapped in before the port was seen empty, told apart by its serial number.
            const Slot& slot = it->second;
            return !slot.job && anotherBoard(slot.board, device);
        };
        Scanner::Look look = scanner.look(st, devices, followers, wanted);
        for (auto& [key, slot] : slots) {
            if (slot.job) continue;
            const bool present = look.present.count(key) > 0;
            if (slot.state == "restarting") {
                if (!present) slot.away = true;
                if (present && slot.away) setState(key, slot, "done");
                else if (now >= slot.until) setState(key, slot, present ? "done" : "waiting");
            } else if (slot.state == "done" && !present) {
                setState(key, slot, "waiting");
            }
        }
        for (auto& [key, record] : look.chosen) {
            if (record.info.portChain.empty()) followers.started(key, record.info, devices, st.toBoot);
            Slot& slot = slots[key];
            slot.state = "running";
            slot.job = startJob(st, key, handOver(std::move(record)));
        }
        for (const Scanner::Problem& p : look.problems) {
            tellProblem(st, p);
            ++tally.failed;
            ++tally.seen;
            setState(p.key, slots[p.key], "done");
        }
        st.output.tick();
        st.stop.waitFor(st.timing.poll);
    }
    std::vector<std::unique_ptr<Job>> jobs;
    for (auto& [key, slot] : slots) {
        if (slot.job) jobs.push_back(std::move(slot.job));
    }
    finishJobs(st, jobs, tally);
    return tally;
}

}  // namespace iap::station
