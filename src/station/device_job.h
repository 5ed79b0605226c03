// One device's work on its own thread: the switch to boot when asked, then
// the upgrade, each attempt recorded and told as a result event.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/device_bus.h"
#include "link/device_record.h"
#include "link/stop_signal.h"
#include "station/station_parts.h"

namespace iap::station {

// Opens the device for the first procedure, giving up when stop is requested.
using JobOpener = std::function<bool(DeviceRecord&, const StopSignal& stop)>;

// The thread follows the station's stop signal and its own stop token:
// whoever destroys the job (also a coordinator that unwinds) stops and joins
// it first.
struct Job {
    std::string key;
    JobOpener open;
    std::atomic<bool> done{false};
    bool passed = false;
    bool seen = false;
    std::vector<HidDeviceInfo> devices;  // as each procedure opened the board
    std::jthread thread;                 // last: it goes first
};

std::unique_ptr<Job> startJob(const Station& st, std::string key, JobOpener open);

// Hands a device that the coordinator opened over to the first procedure.
JobOpener handOver(DeviceRecord record);

// Joins the job and counts its result.
void count(Tally& tally, Job& job);

// Waits for every job, redrawing meanwhile.
void finishJobs(const Station& st, std::vector<std::unique_ptr<Job>>& jobs, Tally& tally);

}  // namespace iap::station
