// The collector over an in-memory transport and an SQLite store that can be
// made to fail: gap-free positions published only after the commit, a new
// epoch at each run, every kind of bad input counted and kept, the summary.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "fleet/collector.h"
#include "fleet/stored_positions.h"
#include "fleet/summary.h"
#include "fleet/topics.h"
#include "support/test_packages.h"

namespace iap::fleet {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& done) {
    for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

struct FakeTransport final : Transport {
    std::mutex mutex;
    ConnectOptions options;
    TransportEvents events;
    std::vector<std::string> subscriptions;
    std::vector<Message> published;
    std::atomic<bool> up{false};

    void start(const ConnectOptions& o, TransportEvents e) override {
        options = o;
        events = std::move(e);
        up = true;
        events.connected();
    }
    void stop() override { up = false; }
    bool isConnected() const override { return up; }
    int publish(const Message& m) override {
        std::lock_guard lock(mutex);
        published.push_back(m);
        return int(published.size());
    }
    bool subscribe(const std::string& pattern, int qos) override {
        subscriptions.push_back(pattern + " " + std::to_string(qos));
        return true;
    }
    std::optional<std::string> last(const std::string& topic) {
        std::lock_guard lock(mutex);
        for (auto it = published.rbegin(); it != published.rend(); ++it) {
            if (it->topic == topic && it->retain) return it->payload;
        }
        return std::nullopt;
    }
};

// A real store whose writes can be made to fail, keeping what it stored as rejected.
struct FlakyStore final : Store {
    std::unique_ptr<Store> inner;
    std::atomic<bool> failing{false};
    std::atomic<int> writes{0};
    std::vector<RejectedMessage> rejected;

    StoreResult write(const StoreBatch& b) override {
        ++writes;
        if (failing) throw std::runtime_error("PostgreSQL: no connection");
        const StoreResult r = inner->write(b);
        rejected.insert(rejected.end(), b.rejected.begin(), b.rejected.end());
        return r;
    }
    std::vector<std::pair<RecordKey, uint64_t>> positions() override { return inner->positions(); }
    std::vector<StoredAttempt> attempts(const AttemptQuery& q) override { return inner->attempts(q); }
    std::vector<YieldRow> yields(const AttemptQuery& q) override { return inner->yields(q); }
    int64_t rejectedCount() override { return inner->rejectedCount(); }
};

struct Running {
    FakeTransport transport;
    Collector collector;
    std::thread thread;
    explicit Running(Store& store) : collector({}, transport, store), thread([this] { collector.run(); }) {
        EXPECT_TRUE(waitFor([&] { return transport.up.load(); }));
    }
    ~Running() {
        collector.stop();
        thread.join();
    }
    void deliver(const std::string& topic, const std::string& payload) { transport.events.message({topic, payload, 1, false}); }
    void deliver(const AttemptLine& a) { deliver(stationTopic(a.site, a.station, "attempt"), attemptMessage(a)); }
    StoredPositions stored() { return readStoredMessage(transport.last("iap/v1/s1/st1/stored").value_or("")).value_or(StoredPositions{}); }
};

AttemptLine line(uint64_t offset, const std::string& record = "r.csv", const std::string& start = "2026-12-09T10:00",
                 const std::string& outcome = "passed") {
    AttemptLine a{"s1", "st1", record, "g1", offset, offset + 10, offset == 10, record + std::to_string(offset), false, "", {}};
    a.columns = {{"start", start}, {"outcome", outcome}, {"failure", outcome == "passed" ? "" : "crc"}};
    return a;
}

struct CollectorTest : testing::Test {
    test::TempDir dir;
    FlakyStore store;
    void SetUp() override { store.inner = openStore((dir / "fleet.sqlite").string()); }
};

TEST_F(CollectorTest, PositionsMoveWithoutGapsOnlyAfterTheCommitWithANewEpochEachRun) {
    std::string epoch;
    {
        Running c(store);
        EXPECT_EQ(c.transport.subscriptions, std::vector<std::string>{"iap/v1/+/+/attempt 1"});
        EXPECT_EQ(c.transport.options.clientId, "usb-iap-fleet-collect");
        EXPECT_FALSE(c.transport.options.cleanSession);

        store.failing = true;
        c.deliver(line(10));
        ASSERT_TRUE(waitFor([&] { return store.writes > 0; }));
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(c.transport.last("iap/v1/s1/st1/stored")) << "a stored position for a line not committed";
        store.failing = false;  // tried again, then published

        struct Step {
            AttemptLine line;
            uint64_t end;  // r.csv's stored position after it
        };
        const Step steps[] = {{line(10), 20}, {line(30), 20}, {line(20), 40}, {line(20), 40}, {line(50, "other.csv"), 40}};
        for (size_t i = 0; i < std::size(steps); ++i) {
            if (i > 0) c.deliver(steps[i].line);
            ASSERT_TRUE(waitFor([&] { return c.collector.figures().stored + c.collector.figures().duplicates == i + 1; }));
            const StoredPositions p = c.stored();
            ASSERT_EQ(p.records.size(), 1u) << i;  // other.csv's first line never came: no position
            EXPECT_EQ(p.records[0], (StoredRecord{"r.csv", "g1", steps[i].end})) << i;
        }
        EXPECT_EQ(c.collector.figures().duplicates, 1u);
        epoch = c.stored().epoch;
    }
    Running again(store);  // publishes the loaded positions at its connection, with its own epoch
    ASSERT_TRUE(waitFor([&] { return again.stored().records.size() == 1; }));
    EXPECT_EQ(again.stored().records[0].end, 40u);
    EXPECT_EQ(epoch.size(), 36u);
    EXPECT_NE(again.stored().epoch, epoch);
}

TEST_F(CollectorTest, EveryKindOfBadInputIsCountedAndKept) {
    AttemptLine huge = line(10);
    huge.end = std::numeric_limits<uint64_t>::max();
    const std::string t = "iap/v1/s1/st1/attempt";
    const struct {
        std::string topic, payload, reason;
    } cases[] = {
        {t, "not json", "not JSON"},
        {t, "", "not JSON"},
        {t, "[1,2]", "not an object"},
        {t, R"({"site":"s1"})", "no id"},
        {t, R"({"site":"s1","station":"st1","id":5,"offset":"x"})", "wrong type: id"},
        {t, std::string(1 << 20, 'x'), "too large: 1048576 bytes"},
        {"iap/v1/s1/st1/attempt/x", attemptMessage(line(10)), "bad topic"},
        {"iap/v1/s2/st1/attempt", attemptMessage(line(10)), "topic mismatch"},
        {t, attemptMessage(huge), "wrong type: end (beyond 2^63)"},
    };
    Running c(store);
    for (const auto& bad : cases) c.deliver(bad.topic, bad.payload);
    c.deliver(line(10));
    ASSERT_TRUE(waitFor([&] { return c.collector.figures().stored == 1; }));
    EXPECT_EQ(c.collector.figures().rejected, std::size(cases));
    EXPECT_EQ(store.rejectedCount(), int64_t(std::size(cases)));
    ASSERT_EQ(store.rejected.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(store.rejected[i].reason, cases[i].reason);
        EXPECT_EQ(store.rejected[i].topic, cases[i].topic);
        EXPECT_EQ(store.rejected[i].payload, cases[i].payload.substr(0, kMaxAttemptPayload));
    }
}

TEST_F(CollectorTest, SummaryHoldsTheStationsDayAndItsLastTwentyNewestFirstAsTheStoreSays) {
    Running c(store);
    c.deliver(line(10, "r.csv", "2026-12-08T23:59", "failed"));  // the day before: not today's
    for (uint64_t i = 1; i <= 25; ++i) {
        const std::string start = "2026-12-09T10:" + std::string(i < 10 ? "0" : "") + std::to_string(i);
        c.deliver(line(10 + 10 * i, "r.csv", start, i % 5 == 0 ? "failed" : "passed"));
    }
    ASSERT_TRUE(waitFor([&] { return c.collector.figures().stored == 26; }));
    const std::string published = c.transport.last("iap/v1/s1/st1/summary").value_or("null");
    EXPECT_EQ(published, StationSummary::load(store, "s1", "st1").message()) << "kept up to date as the store would say";
    const json s = json::parse(published);
    EXPECT_EQ(s["day"], "2026-12-09");
    EXPECT_EQ(s["passed"], 20);
    EXPECT_EQ(s["failed"], 5);
    EXPECT_EQ(s["failures"], json({{"crc", 5}}));
    ASSERT_EQ(s["last"].size(), 20u);
    EXPECT_EQ(s["last"][0]["id"], "r.csv260");
    EXPECT_EQ(s["last"][19]["id"], "r.csv70");
}

}  // namespace
}  // namespace iap::fleet
