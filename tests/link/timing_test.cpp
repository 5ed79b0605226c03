// Real time with a second thread: discovery's 500 ms polling, a device
// attached during the search, cancellation, and late replies of the
// simulated device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/discovery.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "sim/sim_bus.h"
#include "support/link_fixtures.h"

namespace iap {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::entry;

long msSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(DiscoveryTiming, PollingDeadlineAttachAndCancel) {
    sim::SimBus bus;
    std::atomic<bool> cancelled{false};
    DeviceRecord record;
    // Runs a search while another thread acts after delay: the search's duration.
    auto search = [&](std::vector<DeviceIdEntry> entries, int timeoutMs, auto delay, auto meanwhile) {
        std::thread other([&] {
            std::this_thread::sleep_for(delay);
            meanwhile();
        });
        const auto start = Clock::now();
        SearchDevice(bus, std::move(entries), timeoutMs, record, cancelled);
        other.join();
        return msSince(start);
    };
    long took = search({entry(0x5679)}, 5000, 1200ms, [&] { bus.attach(); });
    ASSERT_TRUE(record.isOpen());  // found by the next pass
    EXPECT_GE(took, 1200);
    EXPECT_LT(took, 2200);

    size_t before = bus.enumerations();
    took = search({entry(0x0001)}, 1200, 0ms, [] {});
    EXPECT_FALSE(record.isOpen());                // each search starts with an empty record
    EXPECT_EQ(bus.enumerations() - before, 3u);  // passes at 0, 500 and 1000 ms
    EXPECT_GE(took, 1200);
    EXPECT_LT(took, 1900);
    EXPECT_GE(search({}, 100, 0ms, [] {}), 450);  // no entries: nothing found, one sleep

    before = bus.enumerations();
    took = search({entry(0x0001)}, 10000, 200ms, [&] { cancelled = true; });
    EXPECT_FALSE(record.isOpen());
    EXPECT_LT(took, 900);  // within one sleep, without a second pass
    EXPECT_EQ(bus.enumerations() - before, 1u);
    for (const auto& d : bus.devices()) EXPECT_EQ(d->openHandles(), 0u);
}

// hidraw queues reports per open file: a reply that arrives after its read
// timed out goes to the next read, but not to a handle opened later.
TEST(SimTiming, LateRepliesGoToTheNextReadOfTheSameHandleOnly) {
    sim::SimBus bus;
    auto device = bus.attach();
    device->setLatency(30ms);
    DeviceConnection connection;
    connection.record.handle = bus.openPath(device->path());
    connection.record.reportId = 0x01;
    uint8_t* finish = connection.request();
    buildFinishCommand(finish, 0);
    EXPECT_THROW(connection.exchange(finish, 7, 0, true, 5), timeout_exception);  // reply after 30 ms
    EXPECT_GT(connection.exchange(finish, 7, 0, true, 100), 0);  // reads the late reply
    std::this_thread::sleep_for(40ms);                           // the second reply waits unread
    connection.record.handle = bus.openPath(device->path());     // a new handle does not see it
    EXPECT_THROW(connection.exchange(finish, 7, 0, true, 5), timeout_exception);
    EXPECT_GT(connection.exchange(finish, 7, 0, true, 100), 0);
    EXPECT_EQ(connection.receiveBusinessPack(5), 7u);
    EXPECT_EQ(connection.response()[1], 0xE9);  // finish before any header
}

}  // namespace
}  // namespace iap
