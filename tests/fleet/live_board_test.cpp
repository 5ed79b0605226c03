// The live board: the latest-value map's rate limit (newest wins, the last
// state always sent, the oldest topic making room) as one table on a clock
// of our own; then the board over an in-memory transport whose publish
// stalls, where posting never waits and every port's newest state arrives.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <mutex>
#include <thread>

#include "fleet/live_board.h"

namespace iap::fleet {
namespace {

using namespace std::chrono_literals;

TEST(LatestValues, NewestWinsAtMostOncePerIntervalAndTheLastIsSent) {
    LatestValues values(500ms, 2);
    const LatestValues::Clock::time_point t0{};
    const struct {
        int ms;
        char op;  // p: put topic=payload, t: take (expect the payloads sent), a: again
        std::string topic, payload, sent;
    } rows[] = {
        {0, 'p', "a", "a1", ""},
        {0, 't', "", "", "a1"},
        {100, 'p', "a", "a2", ""},
        {200, 'p', "a", "a3", ""},
        {499, 't', "", "", ""},     // within the interval of the last send
        {500, 't', "", "", "a3"},   // the newest of the three
        {600, 'p', "b", "b1", ""},
        {600, 't', "", "", "b1"},   // each topic on its own
        {700, 'p', "a", "a4", ""},  // a job's last state
        {999, 't', "", "", ""},
        {1000, 't', "", "", "a4"},  // is sent at the end of the interval
        {1000, 'p', "c", "c1", ""}, // a third topic: b, sent longest ago, makes room
        {1000, 't', "", "", "c1"},
        {1100, 'a', "", "", ""},    // a new connection: every newest state again
        {1100, 't', "", "", ""},
        {1500, 't', "", "", "a4 c1"},
        {1500, 't', "", "", ""},
    };
    for (const auto& r : rows) {
        const auto now = t0 + std::chrono::milliseconds(r.ms);
        if (r.op == 'p') values.put({r.topic, r.payload, 0, true});
        if (r.op == 'a') values.again();
        if (r.op != 't') continue;
        std::string sent;
        for (const Message& m : values.take(now)) sent += (sent.empty() ? "" : " ") + m.payload;
        EXPECT_EQ(sent, r.sent) << "at " << r.ms << " ms";
    }
    EXPECT_EQ(values.size(), 2u);
    EXPECT_FALSE(values.nextDue());
}

// Publishes as a broker that takes stallMs for each message would; while
// not connected it refuses, as the real transport does.
struct StalledTransport : Transport {
    std::mutex mutex;
    std::vector<Message> sent;
    ConnectOptions options;
    TransportEvents events;
    std::atomic<bool> connected{false};
    std::atomic<int> ids{0};
    void start(const ConnectOptions& o, TransportEvents e) override {
        options = o;
        events = std::move(e);
    }
    void stop() override {}
    bool isConnected() const override { return connected; }
    int publish(const Message& m) override {
        if (!connected) return -1;
        std::this_thread::sleep_for(20ms);
        std::lock_guard lock(mutex);
        sent.push_back(m);
        const int id = ++ids;
        if (m.qos > 0) events.acknowledged(id);
        return id;
    }
    bool subscribe(const std::string&, int) override { return true; }
};

TEST(LiveBoard, PostingNeverWaitsForTheBrokerAndEachPortsNewestStateArrives) {
    auto owned = std::make_unique<StalledTransport>();
    StalledTransport& fake = *owned;
    LiveBoardOptions options;
    options.site = "s1";
    options.station = "st1";
    options.interval = 50ms;
    LiveBoard board(std::move(owned), options);
    board.start({true, "1.0.0", "tool", "V2", 0, 0, 0});
    // The posts that took as long as one publish (20 ms): none but one the
    // machine itself held up.
    const auto postAll = [&](int round) {
        int slow = 0;
        std::vector<std::thread> threads;
        std::mutex m;
        for (int port = 1; port <= 4; ++port) {
            threads.emplace_back([&, port] {
                for (int i = 0; i <= 100; ++i) {
                    const auto before = std::chrono::steady_clock::now();
                    board.post(PortState{"1-4." + std::to_string(port), i == 100 ? "done" : "upgrading", i * 1.0,
                                         1000, "round " + std::to_string(round)});
                    std::lock_guard lock(m);
                    slow += std::chrono::steady_clock::now() - before >= 20ms ? 1 : 0;
                }
            });
        }
        for (auto& t : threads) t.join();
        return slow;
    };
    EXPECT_LE(postAll(1), 2);  // no broker
    std::this_thread::sleep_for(100ms);
    {
        std::lock_guard lock(fake.mutex);
        EXPECT_TRUE(fake.sent.empty());
    }
    fake.connected = true;
    fake.events.connected();
    EXPECT_LE(postAll(2), 2);  // a broker that takes 20 ms a message
    std::this_thread::sleep_for(200ms);
    board.stop({true, "1.0.0", "tool", "V2", 3, 1, 2});

    ASSERT_TRUE(fake.options.will);
    EXPECT_EQ(fake.options.will->topic, "iap/v1/s1/st1/line");
    EXPECT_EQ(nlohmann::json::parse(fake.options.will->payload), nlohmann::json::parse(R"({"online":false})"));
    EXPECT_TRUE(fake.options.will->retain);
    std::map<std::string, std::pair<Message, int>> last;  // topic: its last message, how many
    for (const Message& m : fake.sent) {
        auto& [message, count] = last[m.topic];
        message = m;
        ++count;
    }
    ASSERT_EQ(last.size(), 5u);
    for (int port = 1; port <= 4; ++port) {
        const auto& [m, count] = last["iap/v1/s1/st1/port/1-4." + std::to_string(port)];
        EXPECT_TRUE(m.retain && m.qos == 0);
        const auto state = nlohmann::json::parse(m.payload);
        EXPECT_EQ(state["state"], "done");
        EXPECT_EQ(state["percent"], 100.0);
        EXPECT_EQ(state["text"], "round 2");
        EXPECT_EQ(state["outcome"], nullptr);
        EXPECT_LE(count, 12);  // at most one per 50 ms in the half second it ran, not one per post
    }
    const auto& [line, count] = last["iap/v1/s1/st1/line"];
    EXPECT_TRUE(line.retain && line.qos == 1);
    EXPECT_EQ(nlohmann::json::parse(line.payload),
              nlohmann::json::parse(R"({"online":false,"version":"1.0.0","tool":"tool","firmware":"V2",
                                        "passed":3,"failed":1,"running":2})"));
}

}  // namespace
}  // namespace iap::fleet
