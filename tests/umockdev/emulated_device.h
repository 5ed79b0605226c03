// The simulated bootloader model (sim/sim_bootloader.h) behind a fake hidraw
// node of the testbed: the real hidapi writes its reports to the model and
// reads the model's answers. A restart of the model (switch to bootloader,
// finish of an upgrade) or a disconnect fault unplugs the node; a restart
// then plugs the device again, under a new node name, with the identity of
// its new mode (product ID, bcdDevice).
//
// Thread-safe. The model is driven on umockdev's thread; restarts and late
// answers (setReplyLatency) run on the device's own thread, so a handler
// waits at most while one unplugs or plugs a node, never for the time of a
// restart.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_bootloader.h"
#include "testbed.h"

namespace iap::umock {

// The IDs under which the tests' packages list the device.
inline constexpr uint16_t kVendorId = 0x1234;
inline constexpr uint16_t kAppProductId = 0x5678;
inline constexpr uint16_t kBootProductId = 0x5679;
inline constexpr uint8_t kReportId = 0x01;

// The model's configuration with those IDs.
sim::BootloaderConfig deviceConfig(sim::Mode mode, uint16_t bcdDevice = 0x0100);

// The vendor descriptor with another usage page, or without its Report ID
// item.
std::vector<uint8_t> descriptorWithUsagePage(uint16_t usagePage);
std::vector<uint8_t> descriptorWithoutReportId();

class EmulatedDevice {
public:
    // Plugs the device at once, into port (a new root hub port when empty),
    // where it stays across restarts and replugs. switchDelay milliseconds
    // are multiplied by timeScale before the device restarts.
    EmulatedDevice(Testbed& bed, sim::BootloaderConfig config, double timeScale = 0.1, std::string port = {});
    ~EmulatedDevice();
    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    void addFault(const sim::Fault& fault);
    // The answers to an output report reach the host this long after it
    // (0, the default: at once, before the write returns).
    void setReplyLatency(std::chrono::microseconds latency);

    // Plugs the device again (a new node) in its mode after it vanished.
    void replug();
    // The device leaves the bus until replug(); a restart under way is
    // dropped.
    void unplug();

    // Waits until the device is present in mode, after any pending restart.
    bool waitForMode(sim::Mode mode, std::chrono::milliseconds limit);
    // Waits until the device is away.
    bool waitForAbsence(std::chrono::milliseconds limit);
    // Waits until no restart is pending or under way.
    bool waitForRest(std::chrono::milliseconds limit);

    struct State {
        sim::Mode mode;
        uint16_t productId, bcdDevice;
        bool upgradePassed;
        size_t plugs;      // plugs so far, the first included
        std::string node;  // the node now plugged, "" while away
        std::string port;
        std::vector<uint8_t> flash;
    };
    State state();

private:
    struct Restart {
        std::chrono::steady_clock::time_point at;
        sim::Mode target;
        bool disconnect;
        FakeHidraw* node;
    };

    struct Replies {
        std::chrono::steady_clock::time_point at;
        FakeHidraw* node;
        std::vector<Report> reports;
    };

    std::vector<Report> onReport(const uint8_t* data, size_t length);
    void plugLocked();
    void run();
    void restart(std::unique_lock<std::mutex>& lock);

    Testbed& bed_;
    const double timeScale_;
    const std::string port_;
    std::mutex mutex_;
    std::condition_variable changed_;
    sim::SimBootloader core_;
    FakeHidraw* node_ = nullptr;
    std::vector<FakeHidraw*> nodes_;  // every node plugged so far
    std::deque<Restart> restarts_;
    std::deque<Replies> replies_;
    std::chrono::microseconds replyLatency_{0};
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace iap::umock
