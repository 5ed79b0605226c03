// The flash modes of usb-iap-flash: the first device, the devices on given
// ports, every device present and those arriving within the wait.
#include <set>

#include "link/device_list.h"
#include "link/discovery.h"
#include "station/bus_scanner.h"
#include "station/device_job.h"
#include "station/device_search.h"

namespace iap::station {

using std::chrono::milliseconds;

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

}  // namespace iap::station
