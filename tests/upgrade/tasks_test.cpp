// The upgrade tasks on the worker pool: the busy state, auto-start, shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sim/sim_bus.h"
#include "ui/display_state.h"
#include "ui/thread_pool.h"
#include "ui/ui_thread.h"
#include "upgrade/busy_claim.h"
#include "upgrade/device_info.h"
#include "upgrade/log_capture.h"
#include "upgrade/shutdown.h"
#include "upgrade/sim_rig.h"
#include "upgrade/upgrade_tasks.h"

namespace iap {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;
using testing::Rig;
using testing::waitFor;

// A rig with the tool's pool of ten workers, one of them running the UI thread.
struct PoolRig : Rig {
    explicit PoolRig(size_t payloadSize = 1000) : Rig(payloadSize, 256) {
        ctx.display = &display;
        ctx.pool = pool.get();
        pool->enqueue([this] { UIThread(events, display); });
    }
    ~PoolRig() {
        if (!ctx.exitRequested.load()) requestShutdown(ctx);
    }
    DisplayState display;
    std::unique_ptr<ThreadPool> pool = std::make_unique<ThreadPool>(10);
};

class Tasks : public ::testing::Test {};

TEST_F(Tasks, BusyClaimReturnsToIdleWhenAnExceptionEscapes) {
    std::atomic<int32_t> busy{BUSY_IDLE};
    try {
        BusyClaim claim(busy, BUSY_UPGRADE);
        ASSERT_TRUE(claim);
        BusyClaim second(busy, BUSY_DEVINFO);
        EXPECT_FALSE(second);
        EXPECT_EQ(busy.load(), BUSY_UPGRADE);
        throw std::runtime_error("escapes");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(busy.load(), BUSY_IDLE);
}

TEST_F(Tasks, ManyConcurrentSubmitsAdmitExactlyOneTask) {
    LogCapture log;
    PoolRig rig;
    auto device = rig.attachBootloader();
    device->setLatency(2ms);  // the admitted upgrade outlasts the flood of submits
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
}

TEST_F(Tasks, IAPThreadHoldsTheBusyStateForTheWholeUpgrade) {
    LogCapture log;
    PoolRig rig;
    auto device = rig.attachBootloader();
    device->setLatency(500us);
    rig.pool->enqueue([&rig] { IAPThread(rig.ctx); });
    ASSERT_TRUE(waitFor([&] { return rig.ctx.busy.load() == BUSY_UPGRADE; }, 5s));
    ASSERT_TRUE(waitFor([&] { return rig.ctx.busy.load() == BUSY_IDLE; }, 10s));
    EXPECT_TRUE(device->upgradePassed());
    ASSERT_TRUE(waitFor([&] { return std::string(rig.display.snapshot().tipsText) == "PASS"; }, 5s));
    EXPECT_EQ(log.count("IAPThread"), 1u);
}

TEST_F(Tasks, AutoStartUpgradesALineOfDevicesOneAfterAnother) {
    LogCapture log;
    PoolRig rig;
    rig.ctx.autoStartPauseMs = 50;
    rig.state.settings.searchDeviceTimeout = 100;
    rig.ctx.autoStart = true;
    rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });

    // The line: each device is taken away once it has passed and the next put on.
    std::vector<std::shared_ptr<sim::SimDevice>> done;
    for (int i = 0; i < 3; ++i) {
        auto device = rig.attachBootloader();
        ASSERT_TRUE(waitFor([&] { return device->upgradePassed(); }, 10s)) << "device " << i;
        ASSERT_TRUE(waitFor([&] { return device->openHandles() == 0; }, 5s));
        rig.bus.detach(device);
        done.push_back(device);
    }
    EXPECT_NE(rig.ctx.busy.load(), BUSY_IDLE);
    rig.ctx.autoStart = false;
    rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });  // the click that switched it off
    ASSERT_TRUE(waitFor([&] { return rig.ctx.busy.load() == BUSY_IDLE; }, 5s));
    EXPECT_EQ(log.count("AutoIAPThread"), 2u);
    EXPECT_GE(log.count("IAPProcess PASS"), 3u);
    for (auto& device : done) {
        auto flash = device->flash();
        flash.resize(rig.payload.size());
        EXPECT_EQ(flash, rig.payload);
    }
}

TEST_F(Tasks, ShutdownEndsTheAutoStartLoopInItsPause) {
    PoolRig rig;
    rig.ctx.autoStartPauseMs = 60000;
    rig.state.settings.searchDeviceTimeout = 0;
    rig.ctx.autoStart = true;
    rig.pool->enqueue([&rig] { AutoIAPThread(rig.ctx); });
    ASSERT_TRUE(waitFor([&] { return rig.ctx.busy.load() == BUSY_AUTO_WAITING; }, 5s));
    std::this_thread::sleep_for(20ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(requestShutdown(rig.ctx));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
    EXPECT_EQ(rig.bus.exitCount(), 1);
}

// Closing the window in the middle of an upgrade: the pool ends within
// readAckTimeout + 1 s, the device is closed before the HID library is
// released, and the log lines are written.
TEST_F(Tasks, ShutdownInTheMiddleOfAnUpgradeEndsWithinTheBound) {
    for (bool deviceStopsAnswering : {false, true}) {
        LogCapture log;
        PoolRig rig(144608);
        rig.state.settings.readAckTimeout = 300;
        auto device = rig.attachBootloader();
        device->setLatency(300us);
        if (deviceStopsAnswering) {
            sim::Fault silent = sim::Fault::atCommand(sim::FaultKind::NoReply, 0xA1, 20);
            device->addFault(silent);
        }
        rig.pool->enqueue([&rig] { IAPThread(rig.ctx); });
        ASSERT_TRUE(waitFor([&] { return device->commands().size() >= 21; }, 10s));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(requestShutdown(rig.ctx));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1300ms);
        EXPECT_EQ(rig.bus.exitCount(), 1);
        EXPECT_EQ(device->openHandles(), 0u);
        EXPECT_FALSE(device->upgradePassed());
        EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
        EXPECT_EQ(log.count("UIThreadPutEvent_Exit"), 1u);
        EXPECT_EQ(log.count("IAPProcess Open Success"), 1u);
        rig.pool.reset();
    }
}

}  // namespace
}  // namespace iap
