// The upgrade tasks on the worker pool: the busy state, auto-start, shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/shutdown.h"
#include "link/device_bus.h"
#include "support/log_capture.h"
#include "support/sim_rig.h"
#include "ui/display_state.h"
#include "ui/thread_pool.h"
#include "ui/ui_thread.h"
#include "upgrade/device_info.h"
#include "upgrade/upgrade_tasks.h"

namespace iap {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;

// The tool's pool of ten workers, one of them running the UI thread.
struct PoolRig : test::Rig {
    explicit PoolRig(size_t payloadSize = 1000) : Rig(payloadSize, 256) {
        pool->enqueue([this] { UIThread(events, display); });
    }
    ~PoolRig() {
        if (!ctx.exitRequested.requested()) shutdown();
    }
    bool shutdown() { return requestShutdown(ctx, &events, pool.get()); }
    DisplayState display;
    std::unique_ptr<ThreadPool> pool = std::make_unique<ThreadPool>(10);
};

// Polls until pred holds. No time limit: what never happens hangs the test,
// and the test runner's time-out reports it.
template <typename Pred>
void waitUntil(Pred pred) {
    while (!pred()) std::this_thread::sleep_for(1ms);
}

TEST(Tasks, ManyConcurrentSubmitsAdmitExactlyOne) {
    LogCapture log;
    PoolRig rig;
    // The admitted upgrade searches for its device until the test attaches
    // it, and the test does so only once every other task has ended: each of
    // them tried to claim while the admitted one held the busy state.
    rig.state.settings.searchDeviceTimeout = 600000;
    // Nine tasks claim at the same moment (every free worker), twenty-one
    // more follow while the admitted one searches.
    std::latch start(9);
    std::atomic<size_t> ended{0};
    std::vector<std::future<void>> results;
    for (int i = 0; i < 30; ++i) {
        results.push_back(rig.pool->enqueue([&rig, &start, &ended, i] {
            if (i < 9) start.arrive_and_wait();
            if (i >= 9 && i % 3 == 0) DeviceInfoThread(rig.ctx);
            else IAPThread(rig.ctx);
            ++ended;
        }));
    }
    // An admitted upgrade cannot end before the device comes, so every task
    // has either ended or is an admitted upgrade. Two admitted ones would
    // still get past this wait, and fail below.
    waitUntil([&] { return ended.load() + log.count("IAPThread") == results.size(); });
    EXPECT_EQ(rig.ctx.busy.load(), BUSY_UPGRADE);
    EXPECT_EQ(log.count("IAPThread"), 1u);
    EXPECT_EQ(log.count("DeviceInfoThread"), 0u);
    rig.attach();
    for (auto& r : results) r.get();
    EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
    EXPECT_EQ(log.count("IAPThread"), 1u);
    EXPECT_EQ(log.count("IAPProcess PASS"), 1u);
}

TEST(Tasks, AutoStartUpgradesALineOfDevicesOneAfterAnother) {
    LogCapture log;
    PoolRig rig;
    rig.ctx.autoStartPauseMs = 50;
    rig.state.settings.searchDeviceTimeout = 100;
    rig.ctx.autoStart = true;
    rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });
    // Each device is taken away once it has passed, and the next put on.
    for (int i = 0; i < 3; ++i) {
        auto device = rig.attach();
        waitUntil([&] { return device->upgradePassed() && device->openHandles() == 0; });
        rig.bus.detach(device);
        EXPECT_EQ(rig.flashOf(*device), rig.payload);
    }
    EXPECT_NE(rig.ctx.busy.load(), BUSY_IDLE);
    rig.ctx.autoStart = false;
    rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });  // the click that switched it off
    waitUntil([&] { return rig.ctx.busy.load() == BUSY_IDLE; });
    EXPECT_EQ(log.count("AutoIAPThread"), 2u);
}

// The rig's bus as the procedures see it during a shutdown: output report
// gateAt (0-based, over every handle) is held until the exit request is set,
// so that the shutdown starts at a known point of the upgrade. Notes the
// handles still open when the HID library is released, and any device call
// made after that.
class GatedBus : public DeviceBus {
public:
    GatedBus(sim::SimBus& bus, const StopSignal& exitRequested, size_t gateAt)
        : bus_(bus), exitRequested_(exitRequested), gateAt_(gateAt) {}

    int init() override { return bus_.init(); }
    void exit() override {
        size_t open = 0;
        for (const auto& device : bus_.devices()) open += device->openHandles();
        handlesAtExit = open;
        exited_ = true;
        bus_.exit();
    }
    std::vector<HidDeviceInfo> enumerate() override {
        noteCall();
        return bus_.enumerate();
    }
    std::unique_ptr<HidDevice> openPath(const std::string& path) override {
        noteCall();
        std::unique_ptr<HidDevice> inner = bus_.openPath(path);
        return inner ? std::make_unique<Handle>(*this, std::move(inner)) : nullptr;
    }
    std::vector<UsbDeviceDescriptor> usbDevices() override {
        noteCall();
        return bus_.usbDevices();
    }

    std::atomic<bool> atGate{false};
    std::atomic<size_t> handlesAtExit{~size_t{0}};
    std::atomic<int> callsAfterExit{0};

private:
    class Handle : public HidDevice {
    public:
        Handle(GatedBus& bus, std::unique_ptr<HidDevice> inner) : bus_(bus), inner_(std::move(inner)) {}
        ~Handle() override { bus_.noteCall(); }  // closing after the release counts too
        int getReportDescriptor(uint8_t* buf, size_t size) override {
            bus_.noteCall();
            return inner_->getReportDescriptor(buf, size);
        }
        int write(const uint8_t* data, size_t length) override {
            bus_.noteCall();
            if (bus_.writes_++ == bus_.gateAt_) {
                bus_.atGate = true;
                while (!bus_.exitRequested_.requested()) std::this_thread::sleep_for(1ms);
            }
            return inner_->write(data, length);
        }
        int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
            bus_.noteCall();
            return inner_->readTimeout(data, length, milliseconds);
        }

    private:
        GatedBus& bus_;
        std::unique_ptr<HidDevice> inner_;
    };

    void noteCall() {
        if (exited_.load()) ++callsAfterExit;
    }

    sim::SimBus& bus_;
    const StopSignal& exitRequested_;
    const size_t gateAt_;
    std::atomic<size_t> writes_{0};
    std::atomic<bool> exited_{false};
};

// A rig whose procedures talk through the gate; the pool stops before the
// gate goes.
struct ShutdownRig : PoolRig {
    static constexpr size_t kGate = 100;  // of about 2900 output reports
    ShutdownRig() : PoolRig(144608) { ctx.bus = &gated; }
    ~ShutdownRig() {
        if (!ctx.exitRequested.requested()) shutdown();
        pool.reset();
    }
    GatedBus gated{bus, ctx.exitRequested, kGate};
};

// Closing the window while a worker uses the device: requestShutdown waits
// for every worker (it reports true only when all ended within its bound of
// readAckTimeout + 1 s), the device is closed before the HID library is
// released, nothing touches the device after that, and the busy state is
// back at idle.
TEST(Tasks, ShutdownEndsEveryWorkerAndClosesTheDeviceBeforeReleasingTheHidLibrary) {
    enum Moment { MidUpgrade, DeviceSilent, AutoStartPause };
    for (Moment moment : {MidUpgrade, DeviceSilent, AutoStartPause}) {
        SCOPED_TRACE(moment);
        LogCapture log;
        ShutdownRig rig;
        // In a silent read the worker sits for readAckTimeout after the exit
        // request; elsewhere it only has to reach its next check, and a wide
        // bound keeps the machine's load out of the result.
        rig.state.settings.readAckTimeout = moment == DeviceSilent ? 300 : 10000;
        std::shared_ptr<sim::SimDevice> device;
        if (moment == AutoStartPause) {
            rig.ctx.autoStartPauseMs = 60000;  // far beyond the bound: only the exit request ends it
            rig.state.settings.searchDeviceTimeout = 0;
            rig.ctx.autoStart = true;
            rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });
            waitUntil([&] {  // the first attempt is over: the loop pauses
                return log.count("IAPProcess Open Failed") == 1 && rig.ctx.busy.load() == BUSY_AUTO_WAITING;
            });
        } else {
            device = rig.attach();
            if (moment == DeviceSilent) {
                device->addFault(sim::Fault::atReport(sim::FaultKind::NoReply, ShutdownRig::kGate));
            }
            rig.pool->enqueue([&rig] { IAPThread(rig.ctx); });
            waitUntil([&] { return rig.gated.atGate.load(); });  // held there until the exit request
        }
        EXPECT_TRUE(rig.shutdown());
        EXPECT_EQ(rig.gated.handlesAtExit.load(), 0u);
        EXPECT_EQ(rig.gated.callsAfterExit.load(), 0);
        EXPECT_EQ(rig.bus.exitCount(), 1);
        EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
        EXPECT_EQ(log.count("UIThreadPutEvent_Exit"), 1u);
        if (device) {
            EXPECT_EQ(device->openHandles(), 0u);
            EXPECT_FALSE(device->upgradePassed());  // the held report came after the exit request
        }
        if (moment == DeviceSilent) {  // the held report was never answered
            EXPECT_EQ(log.count("IAPProcess e.what() Unknown exception"), 1u);
        }
    }
}

}  // namespace
}  // namespace iap
