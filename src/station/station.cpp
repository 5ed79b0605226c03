#include "station/station.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <thread>

#include "link/connection.h"
#include "link/device_list.h"
#include "link/discovery.h"
#include "link/shared_bus.h"
#include "logging/logging.h"
#include "station/board_trail.h"
#include "upgrade/procedure.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_procedure.h"

namespace iap::station {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kUpgrade = "upgrade";
constexpr const char* kToBoot = "to-boot";

Event event(EventKind kind, const std::string& port) {
    Event e;
    e.kind = kind;
    e.port = port;
    return e;
}

void emitState(const Station& st, const std::string& port, const char* state) {
    Event e = event(EventKind::State, port);
    e.text = state;
    st.output.emit(e);
}

milliseconds switchDelayOf(const Station& st) { return milliseconds(st.tool.settings.switchDelay & 0xFFFF); }

// How long a board that passed may take to restart into its new firmware.
milliseconds restartTimeOf(const Station& st) { return switchDelayOf(st) + st.timing.returnMargin; }

// The procedures' texts become stage events; progress of the upgrade becomes
// progress events, at most one per progress interval.
class DeviceReporter : public Reporter {
public:
    DeviceReporter(const Station& st, const StopSignal& stop, std::string port)
        : st_(st), stop_(stop), port_(std::move(port)) {}
    void setPort(std::string port) { port_ = std::move(port); }

    void begin(const char* procedure) {
        procedure_ = procedure;
        bytes_ = total_ = 0;
        started_ = false;
    }
    const char* procedure() const { return procedure_; }
    uint32_t bytes() const { return bytes_; }
    uint32_t total() const { return total_; }

    void postTips(std::string_view text) override {
        if (stop_.requested()) return;  // the result says "interrupted"
        Event e = event(EventKind::Stage, port_);
        e.procedure = procedure_;
        e.text = std::string(text);
        st_.output.emit(e);
    }
    void postMsg(std::string_view) override {}  // the result event carries it
    void postDeviceInfo(uint16_t, uint16_t, uint16_t) override {}

    void setProgress(uint32_t limit, uint32_t pos) override {
        if (procedure_ != kUpgrade) return;  // the switch's callback only says "accepted"
        const Clock::time_point now = Clock::now();
        if (!started_) {
            started_ = true;
            firstProgress_ = now;
            lastEvent_ = now - st_.timing.progressInterval;
        }
        bytes_ = pos;
        total_ = limit;
        if (now - lastEvent_ < st_.timing.progressInterval) return;
        lastEvent_ = now;
        Event e = event(EventKind::Progress, port_);
        e.procedure = procedure_;
        e.bytes = pos;
        e.total = limit;
        const double seconds = std::chrono::duration<double>(now - firstProgress_).count();
        e.bytesPerSecond = seconds > 0 ? pos / seconds : 0;
        st_.output.emit(e);
    }

private:
    const Station& st_;
    const StopSignal& stop_;
    std::string port_;
    const char* procedure_ = kUpgrade;
    uint32_t bytes_ = 0, total_ = 0;
    bool started_ = false;
    Clock::time_point firstProgress_{}, lastEvent_{};
};

// Opens the device for the first procedure, giving up when stop is requested.
using JobOpener = std::function<bool(DeviceRecord&, const StopSignal& stop)>;

// One device's work on its own thread. The thread follows the station's stop
// signal and its own stop token: whoever destroys the job (also a
// coordinator that unwinds) stops and joins it first.
struct Job {
    std::string key;
    JobOpener open;
    std::atomic<bool> done{false};
    bool passed = false;
    bool seen = false;
    std::vector<HidDeviceInfo> devices;  // as each procedure opened the board
    std::jthread thread;                 // last: it goes first
};

// The devices with the package's IDs, in enumeration order.
std::vector<HidDeviceInfo> packageDevices(const Station& st) {
    std::vector<HidDeviceInfo> out;
    for (HidDeviceInfo& info : st.bus.enumerate()) {
        if (hasPackageIds(info, st.tool.deviceIds)) out.push_back(std::move(info));
    }
    return out;
}

// A device with the package's IDs on that port (any port when key is empty)
// that cannot be opened, and why.
std::optional<std::pair<HidDeviceInfo, OpenProblem>> unopenable(const Station& st, const std::string& key) {
    for (const HidDeviceInfo& info : st.bus.enumerate()) {
        if (!hasPackageIds(info, st.tool.deviceIds) || (!key.empty() && portKey(info) != key)) continue;
        DeviceRecord record;
        OpenProblem problem;
        if (openOrSayWhy(st.bus, info, st.tool.deviceIds, record, problem) == DeviceCheck::OpenFailed) {
            return std::make_pair(info, problem);
        }
    }
    return std::nullopt;
}

// Polls the bus until a device on the port (with a trail: the device the
// board became) passes the checks, the deadline passes or a stop is requested.
bool searchPort(const Station& st, const std::string& key, Clock::time_point deadline, DeviceRecord& record,
                const StopSignal& stop, BoardTrail* trail = nullptr) {
    for (;;) {
        std::vector<HidDeviceInfo> devices = packageDevices(st);
        if (trail) {
            trail->look(devices);
            const std::optional<HidDeviceInfo> found = trail->find(devices);
            devices = found ? std::vector<HidDeviceInfo>{*found} : std::vector<HidDeviceInfo>{};
        }
        for (const HidDeviceInfo& info : devices) {
            if ((trail || portKey(info) == key) &&
                openMatching(st.bus, info, st.tool.deviceIds, record) == DeviceCheck::Chosen) {
                return true;
            }
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline || stop.waitFor(std::min<Clock::duration>(st.timing.poll, deadline - now))) {
            return false;
        }
    }
}

// After an accepted switch: whether the device leaves, and then its return
// on the same port, or with a trail (its port unknown) as the device it
// became. The watcher is a second handle on the device, opened before the
// switch: its read fails the moment the device leaves the bus.
bool awaitReturn(const Station& st, const std::string& key, const HidDeviceInfo& before,
                 std::unique_ptr<HidDevice>& watcher, Clock::time_point answered, DeviceRecord& record,
                 const StopSignal& stop, BoardTrail* trail) {
    const Clock::time_point stays = answered + switchDelayOf(st) + st.timing.leaveMargin;
    const Clock::time_point back = answered + switchDelayOf(st) + st.timing.returnMargin;
    bool left = false;
    if (watcher) {
        uint8_t report[64];
        for (Clock::time_point now; !left && (now = Clock::now()) < stays;) {
            const auto wait = std::chrono::ceil<milliseconds>(stays - now).count();
            // Reports the device sent before (copies of its answers) are read and dropped.
            left = watcher->readTimeout(report, sizeof report, static_cast<int>(wait)) < 0;
        }
        watcher.reset();
    } else {
        // No second handle: the node leaving the list is the sign.
        while (!left && Clock::now() < stays && !stop.requested()) {
            const auto list = st.bus.enumerate();
            left = std::none_of(list.begin(), list.end(), [&](const HidDeviceInfo& i) { return i.path == before.path; });
            if (!left) stop.waitFor(st.timing.poll);
        }
    }
    if (stop.requested()) return false;
    if (!left) {
        for (const HidDeviceInfo& info : st.bus.enumerate()) {
            if (info.path == before.path) {
                return openMatching(st.bus, info, st.tool.deviceIds, record) == DeviceCheck::Chosen;
            }
        }
    }
    if (trail) trail->forget(before.path);  // it left: a device there now is new
    return searchPort(st, key, back, record, stop, trail);
}

void runDevice(const Station& st, Job& job, const StopSignal& stop) {
    DeviceConnection connection;
    DeviceReporter reporter(st, stop, job.key);
    const ProcedureRun run{st.tool.firmware, st.tool.settings, connection, reporter, stop};
    std::unique_ptr<HidDevice> watcher;
    HidDeviceInfo before;
    std::optional<BoardTrail> trail;  // a device without a port, followed across its switch

    // Every handle the thread works with gives up its waits at a stop.
    const auto opened = [&](DeviceRecord& record, const char* state) {
        record.handle = stopAware(std::move(record.handle), stop);
        job.seen = true;
        job.devices.push_back(record.info);
        if (job.key.empty()) {  // found by the window's search
            job.key = portKey(record.info);
            reporter.setPort(job.key);
        }
        before = record.info;
        Event found = event(EventKind::Found, job.key);
        found.device = record.info;
        st.output.emit(found);
        emitState(st, job.key, state);
        basic_logger->info("usb-iap-flash {} {} {:04X}:{:04X}", job.key, record.info.path, record.info.vendorId,
                           record.info.productId);
    };
    // Records the attempt and tells its result; true when it passed.
    const auto finish = [&](const char* procedure, AttemptResult& result, bool lastOne) {
        const bool interrupted = stop.requested() && result.outcome != Outcome::Passed;
        if (interrupted) result.failure = Failure::Interrupted;
        Event e = event(EventKind::Result, job.key);
        e.procedure = procedure;
        e.outcome = outcomeName(result.outcome, interrupted);
        e.text = interrupted ? "interrupted" : result.text;
        e.device = result.device;
        e.status = result.device.path.empty() ? -1 : result.deviceStatus;
        e.bytes = reporter.bytes();
        e.total = reporter.total();
        e.durationMs = result.duration.count();
        const bool passed = result.outcome == Outcome::Passed && !interrupted;
        e.final = lastOne || !passed;
        if (result.outcome == Outcome::OpenFailed && !interrupted) {
            if (auto problem = unopenable(st, job.key)) {
                job.seen = true;
                e.device = problem->first;
                e.problem = problem->second;
                result.failure = Failure::OpenFailed;
            }
        }
        e.failure = failureName(result.failure);
        if (st.record) st.record->append({procedure, result, st.tool.firmware, st.toolName, interrupted, job.key});
        basic_logger->info("usb-iap-flash {} {} {}: {}", job.key, procedure, e.outcome, oneLine(e.text));
        st.output.emit(e);
        return passed;
    };

    const DeviceOpener first = [&](DeviceRecord& record) {
        if (!job.open(record, stop)) return false;
        if (st.toBoot) watcher = stopAware(st.bus.openPath(record.info.path), stop);
        if (st.toBoot && record.info.portChain.empty()) trail.emplace(record.info, packageDevices(st));
        opened(record, st.toBoot ? "to-boot" : "upgrading");
        return true;
    };

    DeviceOpener upgradeOpener = first;
    if (st.toBoot) {
        reporter.begin(kToBoot);
        AttemptResult switched = runProcedure(toBootScript(), run, first);
        const Clock::time_point answered = Clock::now();
        if (!finish(kToBoot, switched, false)) return;
        emitState(st, job.key, "restarting");
        upgradeOpener = [&, answered](DeviceRecord& record) {
            if (!awaitReturn(st, job.key, before, watcher, answered, record, stop, trail ? &*trail : nullptr)) {
                return false;
            }
            opened(record, "upgrading");
            return true;
        };
    }
    reporter.begin(kUpgrade);
    AttemptResult upgraded = runProcedure(upgradeScript(), run, upgradeOpener);
    job.passed = finish(kUpgrade, upgraded, true);
}

std::unique_ptr<Job> startJob(const Station& st, std::string key, JobOpener open) {
    auto job = std::make_unique<Job>();
    job->key = std::move(key);
    job->open = std::move(open);
    Job* raw = job.get();
    raw->thread = std::jthread([&st, raw](std::stop_token own) {
        const StopSignal stop(std::move(own), st.stop);
        try {
            runDevice(st, *raw, stop);
        } catch (const std::exception& e) {
            // Nothing below lets an exception out; should one come, the
            // device fails alone.
            Event r = event(EventKind::Result, raw->key);
            r.procedure = kUpgrade;
            r.outcome = "failed";
            r.failure = failureName(Failure::Exception);
            r.text = e.what();
            r.final = true;
            st.output.emit(r);
            raw->passed = false;
        }
        raw->done.store(true);
    });
    return job;
}

// Hands a device that the coordinator opened over to the first procedure.
JobOpener handOver(DeviceRecord record) {
    auto held = std::make_shared<DeviceRecord>(std::move(record));
    return [held](DeviceRecord& into, const StopSignal&) {
        if (!held->isOpen()) return false;
        into = std::move(*held);
        return true;
    };
}

void count(Tally& tally, Job& job) {
    job.thread.join();
    (job.passed ? tally.passed : tally.failed) += 1;
    tally.seen += job.seen ? 1 : 0;
}

// Waits for every job, redrawing meanwhile.
void finishJobs(const Station& st, std::vector<std::unique_ptr<Job>>& jobs, Tally& tally) {
    while (std::any_of(jobs.begin(), jobs.end(), [](const auto& j) { return !j->done.load(); })) {
        st.output.tick();
        std::this_thread::sleep_for(milliseconds(20));
    }
    for (auto& job : jobs) {
        count(tally, *job);
        emitState(st, job->key, "done");
    }
    jobs.clear();
}

// One look at the bus: the devices that passed the checks, by port, and the
// ports whose devices cannot be opened. A device that fails is tried again
// in later looks until openGrace has passed since it appeared; then it is
// judged: not the package's interface (left alone while it stays), or not
// openable (told once).
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

    // candidates: the package's devices (packageDevices), each keyed as the
    // followers say; a device they hold is not wanted.
    template <typename Wanted>
    Look look(const Station& st, const std::vector<HidDeviceInfo>& candidates, const Followers& followers,
              Wanted wanted) {
        Look out;
        const Clock::time_point now = Clock::now();
        std::erase_if(paths_, [&](const auto& seen) {
            return std::none_of(candidates.begin(), candidates.end(),
                                [&](const HidDeviceInfo& i) { return i.path == seen.first; });
        });
        std::set<std::string> handled;
        for (const HidDeviceInfo& info : candidates) {
            const std::string key = followers.keyOf(info);
            out.present.try_emplace(key, info);
            if (handled.count(key) || followers.holds(info) || !wanted(key, info)) continue;
            Seen& seen = paths_.try_emplace(info.path, Seen{now}).first->second;
            if (seen.judged) continue;
            DeviceRecord record;
            OpenProblem problem;
            const DeviceCheck check = openOrSayWhy(st.bus, info, st.tool.deviceIds, record, problem);
            if (check == DeviceCheck::Chosen) {
                out.chosen.emplace_back(key, std::move(record));
                handled.insert(key);
                continue;
            }
            if (now - seen.first < st.timing.openGrace) {
                out.pending = true;
                continue;
            }
            seen.judged = true;
            if (check == DeviceCheck::OpenFailed) {
                out.problems.push_back({key, info, problem});
                handled.insert(key);
            }
        }
        // A port whose device was chosen has no problem to tell.
        std::erase_if(out.problems, [&](const Problem& p) {
            return std::any_of(out.chosen.begin(), out.chosen.end(), [&](const auto& c) { return c.first == p.key; });
        });
        return out;
    }

private:
    struct Seen {
        Clock::time_point first;
        bool judged = false;
    };
    std::map<std::string, Seen> paths_;
};

// A port whose device cannot be opened: an attempt that found no device, with the reason.
void tellProblem(const Station& st, const Scanner::Problem& p) {
    Event e = event(EventKind::Result, p.key);
    e.procedure = st.toBoot ? kToBoot : kUpgrade;
    e.outcome = outcomeName(Outcome::OpenFailed);
    e.text = "Open Failed!";
    e.final = true;
    e.device = p.info;
    e.problem = p.problem;
    e.failure = failureName(Failure::OpenFailed);
    basic_logger->info("usb-iap-flash {} {} cannot be opened: {}", p.key, p.info.path, p.problem.reason);
    if (st.record) {
        AttemptResult attempt;
        attempt.outcome = Outcome::OpenFailed;
        attempt.failure = Failure::OpenFailed;
        attempt.text = e.text;
        attempt.start = std::chrono::system_clock::now();
        st.record->append({e.procedure, attempt, st.tool.firmware, st.toolName, false, p.key});
    }
    st.output.emit(e);
}

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

bool selected(const Station& st, const std::string& key) {
    return st.ports.empty() || std::find(st.ports.begin(), st.ports.end(), key) != st.ports.end();
}

}  // namespace

int exitCodeOf(const Tally& tally) {
    if (tally.seen == 0) return 3;
    return tally.failed > 0 ? 1 : 0;
}

Tally flashFirst(const Station& st, milliseconds wait) {
    // The window's search, inside the procedure; the port is known once the
    // device is found.
    std::vector<std::unique_ptr<Job>> jobs;
    jobs.push_back(startJob(st, {}, [&st, wait](DeviceRecord& record, const StopSignal& stop) {
        SearchDevice(st.bus, st.tool.deviceIds, static_cast<int>(wait.count()), record, stop);
        return record.isOpen();
    }));
    Tally tally;
    finishJobs(st, jobs, tally);
    return tally;
}

Tally flashPorts(const Station& st, milliseconds wait) {
    const Clock::time_point deadline = Clock::now() + wait;
    std::vector<std::unique_ptr<Job>> jobs;
    std::set<std::string> started;
    for (const std::string& port : st.ports) {
        if (!started.insert(port).second) continue;
        emitState(st, port, "waiting");
        jobs.push_back(startJob(st, port, [&st, port, deadline](DeviceRecord& record, const StopSignal& stop) {
            return searchPort(st, port, deadline, record, stop);
        }));
    }
    Tally tally;
    finishJobs(st, jobs, tally);
    return tally;
}

Tally flashAll(const Station& st, milliseconds wait) {
    const Clock::time_point deadline = Clock::now() + wait;
    Scanner scanner;
    Followers followers;  // boards without a port: what they become is taken too
    std::set<std::string> taken;
    std::vector<std::unique_ptr<Job>> jobs;
    std::set<const Job*> ended;
    Tally tally;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const std::vector<HidDeviceInfo> devices = packageDevices(st);
        for (const auto& job : jobs) {
            if (job->done.load() && ended.insert(job.get()).second) {
                followers.ended(job->key, job->devices, now + restartTimeOf(st));
            }
        }
        followers.look(devices, now, [&](const HidDeviceInfo& d) { return !taken.count(portKey(d)); });
        Scanner::Look look = scanner.look(st, devices, followers, [&](const std::string& key, const HidDeviceInfo&) {
            return !taken.count(key) && selected(st, key);
        });
        for (auto& [key, record] : look.chosen) {
            taken.insert(key);
            if (record.info.portChain.empty()) followers.started(key, record.info, devices, st.toBoot);
            jobs.push_back(startJob(st, key, handOver(std::move(record))));
        }
        for (const Scanner::Problem& p : look.problems) {
            taken.insert(p.key);
            tellProblem(st, p);
            ++tally.failed;
            ++tally.seen;
        }
        st.output.tick();
        if (Clock::now() >= deadline && !look.pending) break;
        if (st.stop.waitFor(st.timing.poll)) break;
    }
    finishJobs(st, jobs, tally);
    return tally;
}

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
