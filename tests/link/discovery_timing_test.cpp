// Discovery's polling in real time: passes every 500 ms until the deadline,
// a device attached from another thread, cancellation.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/discovery.h"
#include "sim/sim_bus.h"

namespace iap {
namespace {

using Clock = std::chrono::steady_clock;

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

DeviceIdEntry entry(uint16_t pid) {
    DeviceIdEntry e;
    e.vendorId = 0x1234;
    e.productId = pid;
    e.reportId = 0x01;
    return e;
}

TEST(DiscoveryTiming, PassesRunEvery500MsUntilTheDeadline) {
    sim::SimBus bus;
    bus.attach();  // boot product ID 0x5679, not in the list
    std::atomic<bool> cancelled{false};
    DeviceRecord record;
    const auto start = Clock::now();
    SearchDevice(bus, {entry(0x0001)}, 1200, record, cancelled);
    const long took = elapsedMs(start);
    EXPECT_FALSE(record.isOpen());
    EXPECT_EQ(bus.enumerations(), 3u);  // at 0, 500 and 1000 ms
    EXPECT_GE(took, 1200);
    EXPECT_LT(took, 1900);

    const auto again = Clock::now();
    SearchDevice(bus, {}, 100, record, cancelled);  // no entries: nothing found
    EXPECT_FALSE(record.isOpen());
    EXPECT_GE(elapsedMs(again), 450);
}

TEST(DiscoveryTiming, DeviceAttachedDuringTheSearchIsFound) {
    sim::SimBus bus;
    std::atomic<bool> cancelled{false};
    DeviceRecord record;
    std::thread plug([&bus] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        bus.attach();
    });
    const auto start = Clock::now();
    SearchDevice(bus, {entry(0x5679)}, 5000, record, cancelled);
    const long took = elapsedMs(start);
    plug.join();
    ASSERT_TRUE(record.isOpen());
    EXPECT_GE(took, 1200);
    EXPECT_LT(took, 2200);  // the pass at 1500 ms
}

TEST(DiscoveryTiming, CancellationEndsTheSearchWithinOneSleep) {
    sim::SimBus bus;
    std::atomic<bool> cancelled{false};
    DeviceRecord record;
    std::thread cancel([&cancelled] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancelled = true;
    });
    const auto start = Clock::now();
    SearchDevice(bus, {entry(0x5679)}, 10000, record, cancelled);
    const long took = elapsedMs(start);
    cancel.join();
    EXPECT_FALSE(record.isOpen());
    EXPECT_LT(took, 900);
    EXPECT_EQ(bus.enumerations(), 1u);
}

}  // namespace
}  // namespace iap
