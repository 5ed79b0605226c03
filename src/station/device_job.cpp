#include "station/device_job.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "link/connection.h"
#include "link/device_list.h"
#include "link/shared_bus.h"
#include "logging/logging.h"
#include "station/board_trail.h"
#include "station/device_reporter.h"
#include "station/device_search.h"
#include "upgrade/procedure.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_procedure.h"

namespace iap::station {
namespace {

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

}  // namespace

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

void finishJobs(const Station& st, std::vector<std::unique_ptr<Job>>& jobs, Tally& tally) {
    while (std::any_of(jobs.begin(), jobs.end(), [](const auto& j) { return !j->done.load(); })) {
        st.output.tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (auto& job : jobs) {
        count(tally, *job);
        emitState(st, job->key, "done");
    }
    jobs.clear();
}

}  // namespace iap::station
