// The upgrade tasks on the worker pool: the busy state, auto-start, shutdown.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <vector>

#include "app/shutdown.h"
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
using test::waitFor;

// The tool's pool of ten workers, one of them running the UI thread.
struct PoolRig : test::Rig {
    explicit PoolRig(size_t payloadSize = 1000) : Rig(payloadSize, 256) {
        pool->enqueue([this] { UIThread(events, display); });
    }
    ~PoolRig() {
        if (!ctx.exitRequested.load()) shutdown();
    }
    bool shutdown() { return requestShutdown(ctx, &events, pool.get()); }
    DisplayState display;
    std::unique_ptr<ThreadPool> pool = std::make_unique<ThreadPool>(10);
};

TEST(Tasks, ManyConcurrentSubmitsAdmitExactlyOne) {
    LogCapture log;
    PoolRig rig;
    rig.attach()->setLatency(2ms);  // the admitted upgrade outlasts the flood of submits
    // Nine tasks claim at the same moment (every free worker), twenty-one
    // more follow while the admitted one runs.
    std::latch start(9);
    std::vector<std::future<void>> results;
    for (int i = 0; i < 30; ++i) {
        results.push_back(rig.pool->enqueue([&rig, &start, i] {
            if (i < 9) start.arrive_and_wait();
            if (i >= 9 && i % 3 == 0) DeviceInfoThread(rig.ctx);
            else IAPThread(rig.ctx);
        }));
    }
    for (auto& r : results) r.get();
    EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
    EXPECT_EQ(log.count("IAPThread") + log.count("DeviceInfoThread"), 1u);
    EXPECT_EQ(log.count("IAPProcess PASS"), log.count("IAPThread"));
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
        ASSERT_TRUE(waitFor([&] { return device->upgradePassed() && device->openHandles() == 0; }, 10s)) << i;
        rig.bus.detach(device);
        EXPECT_EQ(rig.flashOf(*device), rig.payload);
    }
    EXPECT_NE(rig.ctx.busy.load(), BUSY_IDLE);
    rig.ctx.autoStart = false;
    rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });  // the click that switched it off
    ASSERT_TRUE(waitFor([&] { return rig.ctx.busy.load() == BUSY_IDLE; }, 5s));
    EXPECT_EQ(log.count("AutoIAPThread"), 2u);
}

// Closing the window while a worker uses the device: the pool ends within
// readAckTimeout + 1 s, the device is closed before the HID library is
// released, and the busy state is back at idle.
TEST(Tasks, ShutdownEndsEveryWorkerWithinTheBound) {
    enum Moment { MidUpgrade, DeviceSilent, AutoStartPause };
    for (Moment moment : {MidUpgrade, DeviceSilent, AutoStartPause}) {
        SCOPED_TRACE(moment);
        LogCapture log;
        PoolRig rig(144608);
        rig.state.settings.readAckTimeout = 300;
        std::shared_ptr<sim::SimDevice> device;
        if (moment == AutoStartPause) {
            rig.ctx.autoStartPauseMs = 60000;
            rig.state.settings.searchDeviceTimeout = 0;
            rig.ctx.autoStart = true;
            rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });
            ASSERT_TRUE(waitFor([&] {  // the first attempt is over: the loop pauses
                return log.count("IAPProcess Open Failed") == 1 && rig.ctx.busy.load() == BUSY_AUTO_WAITING;
            }, 5s));
        } else {
            device = rig.attach();
            device->setLatency(300us);
            if (moment == DeviceSilent) device->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, 0xA1, 20));
            rig.pool->enqueue([&rig] { IAPThread(rig.ctx); });
            ASSERT_TRUE(waitFor([&] { return device->commands().size() >= 21; }, 10s));
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(rig.shutdown());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1300ms);
        EXPECT_EQ(rig.bus.exitCount(), 1);
        EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
        EXPECT_EQ(log.count("UIThreadPutEvent_Exit"), 1u);
        if (device) {
            EXPECT_EQ(device->openHandles(), 0u);
            EXPECT_FALSE(device->upgradePassed());
        }
    }
}

}  // namespace
}  // namespace iap
