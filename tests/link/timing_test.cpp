// Discovery's 500 ms polling on a clock the test owns (passes and deadlines
// counted exactly, a device attached and a search cancelled from another
// thread while it sleeps), and late replies of the simulated device, held
// back until the test lets them arrive.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "link/discovery.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "sim/sim_bus.h"
#include "support/link_fixtures.h"

namespace iap {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using test::entry;

// A search clock that moves only when the search sleeps: every sleep ends
// exactly at its deadline. Each sleep is recorded (when it began, how long it
// was asked to last) and first runs duringSleep, as if that happened while
// the search slept.
class TestClock {
public:
    std::function<void()> duringSleep = [] {};
    std::vector<milliseconds> sleepStarts;
    std::vector<milliseconds> sleepLengths;

    milliseconds elapsed() const { return ms(now_ - start_); }

    SearchClock clock() {
        return {[this] { return now_; },
                [this](SearchClock::time_point until) {
                    sleepStarts.push_back(elapsed());
                    sleepLengths.push_back(ms(until - now_));
                    duringSleep();
                    if (until > now_) now_ = until;
                }};
    }

private:
    static milliseconds ms(std::chrono::steady_clock::duration d) { return std::chrono::duration_cast<milliseconds>(d); }

    const SearchClock::time_point start_ = SearchClock::time_point{} + 1000h;
    SearchClock::time_point now_ = start_;
};

std::vector<milliseconds> every500(size_t count) {
    std::vector<milliseconds> starts;
    for (size_t i = 0; i < count; ++i) starts.push_back(milliseconds(500 * i));
    return starts;
}

TEST(DiscoveryTiming, PassesEvery500MsUntilTheFirstCheckAtOrAfterTheDeadline) {
    sim::SimBus bus;
    bus.attach();  // 1234:5679, matching no entry below
    StopSignal cancelled;
    DeviceRecord record;
    const std::pair<int, size_t> runs[] = {{1, 1}, {500, 1}, {501, 2}, {1000, 2}, {1200, 3}};
    for (const auto& [timeoutMs, passes] : runs) {
        SCOPED_TRACE(timeoutMs);
        TestClock time;
        const size_t before = bus.enumerations();
        SearchDevice(bus, {entry(0x0001)}, timeoutMs, record, cancelled, time.clock());
        EXPECT_FALSE(record.isOpen());
        EXPECT_EQ(bus.enumerations() - before, passes);
        EXPECT_EQ(time.sleepStarts, every500(passes));  // a pass, then a full sleep
        EXPECT_EQ(time.sleepLengths, std::vector<milliseconds>(passes, 500ms));
    }
    TestClock time;  // no entries: nothing is found, the time-out still holds
    SearchDevice(bus, {}, 100, record, cancelled, time.clock());
    EXPECT_EQ(time.elapsed(), 500ms);
    for (const auto& d : bus.devices()) EXPECT_EQ(d->openHandles(), 0u);
}

TEST(DiscoveryTiming, ADeviceAttachedDuringASleepIsFoundByTheNextPass) {
    sim::SimBus bus;
    StopSignal cancelled;
    DeviceRecord record;
    TestClock time;
    std::shared_ptr<sim::SimDevice> device;
    // Attached at 1200 ms, in the sleep from 1000 to 1500 ms.
    time.duringSleep = [&] {
        if (time.sleepStarts.back() == 1000ms) device = bus.attach();
    };
    SearchDevice(bus, {entry(0x5679)}, 5000, record, cancelled, time.clock());
    ASSERT_TRUE(record.isOpen());
    EXPECT_EQ(bus.enumerations(), 4u);  // passes at 0, 500, 1000 and 1500 ms
    EXPECT_EQ(time.elapsed(), 1500ms);  // no sleep after the pass that found it
    EXPECT_EQ(device->openHandles(), 1u);

    // Each search starts with an empty record: the device found before is
    // closed even though this search finds nothing.
    SearchDevice(bus, {entry(0x0001)}, 1200, record, cancelled, time.clock());
    EXPECT_FALSE(record.isOpen());
    EXPECT_EQ(device->openHandles(), 0u);
}

TEST(DiscoveryTiming, ACancelDuringASleepEndsTheSearchWithoutAnotherPass) {
    sim::SimBus bus;
    bus.attach();
    StopSignal cancelled;
    DeviceRecord record;
    TestClock time;
    // Another thread cancels once the search sleeps for the first time; the
    // sleep lasts until that store is seen.
    std::promise<void> asleep;
    std::thread canceller([&cancelled, sleeping = asleep.get_future()] {
        sleeping.wait();
        cancelled.request();
    });
    time.duringSleep = [&] {
        if (time.sleepStarts.size() != 1) return;
        asleep.set_value();
        while (!cancelled.requested()) std::this_thread::yield();
    };
    SearchDevice(bus, {entry(0x0001)}, 10000, record, cancelled, time.clock());
    canceller.join();
    EXPECT_FALSE(record.isOpen());
    EXPECT_EQ(bus.enumerations(), 1u);
    EXPECT_EQ(time.elapsed(), 500ms);  // within the one sleep
}

TEST(DiscoveryTiming, TheSteadyClockSleepsAFullPollBetweenPasses) {
    sim::SimBus bus;
    StopSignal cancelled;
    DeviceRecord record;
    const auto start = std::chrono::steady_clock::now();
    SearchDevice(bus, {}, 100, record, cancelled);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);  // however loaded the machine
    EXPECT_EQ(bus.enumerations(), 1u);
}

// hidraw queues reports per open file: a reply that arrives after its read
// timed out goes to the next read, but not to a handle opened later. Replies
// are held back by an hour's latency and arrive when the test delivers them.
TEST(SimTiming, LateRepliesGoToTheNextReadOfTheSameHandleOnly) {
    sim::SimBus bus;
    auto device = bus.attach();
    device->setLatency(1h);
    DeviceConnection connection;
    connection.record.handle = bus.openPath(device->path());
    connection.record.reportId = 0x01;
    uint8_t* finish = connection.request();
    buildFinishCommand(finish, 0);
    EXPECT_THROW(connection.exchange(finish, 7, 0, true, 5), timeout_exception);
    device->deliverNow();                                        // the first reply, late
    EXPECT_GT(connection.exchange(finish, 7, 0, true, 5), 0);    // read by the next read
    device->deliverNow();                                        // the second reply waits unread
    connection.record.handle = bus.openPath(device->path());     // a new handle does not see it
    EXPECT_THROW(connection.exchange(finish, 7, 0, true, 5), timeout_exception);
    device->deliverNow();
    EXPECT_GT(connection.exchange(finish, 7, 0, true, 5), 0);
    EXPECT_EQ(connection.receiveBusinessPack(5), 7u);
    EXPECT_EQ(connection.response()[1], 0xE9);  // finish before any header
}

}  // namespace
}  // namespace iap
