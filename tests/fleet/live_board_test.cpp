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

TEST(LiveBoard, APortsPayloadNamesItsFieldsAsTheJsonLinesDo) {
    using namespace std::chrono;
    const auto at = sys_days{year{2026} / 12 / 9} + 22h + 2min + 6s + 123ms;
    const PortState port{"1-4.2", "done", 100, 0, "Upgrade error", "device-error", "device-status", "SN1", at};
    EXPECT_EQ(nlohmann::json::parse(portPayload(port)),
              nlohmann::json::parse(R"({"port":"1-4.2","state":"done","percent":100.0,"bytes_per_second":0,
                "text":"Upgrade error","outcome":"device-error","failure":"device-status","serial":"SN1",
                "time":"2026-12-09T22:02:06.123Z"})"));
}

// Publishes as a broker that takes 20 ms for each message would; while
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
    // Four threads post 101 states each; how long that takes. Had a post
    // waited for one publish (20 ms), it would take two seconds or more.
    const auto postAll = [&](int round) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int port = 1; port <= 4; ++port) {
            threads.emplace_back([&, port] {
                for (int i = 0; i <= 100; ++i) {
                    board.post(PortState{"1-4." + std::to_string(port), i == 100 ? "done" : "upgrading", i * 1.0,
                                         1000, "round " + std::to_string(round)});
                }
            });
        }
        for (auto& t : threads) t.join();
        return std::chrono::steady_clock::now() - start;
    };
    EXPECT_LT(postAll(1), 1s);  // no broker
    std::this_thread::sleep_for(100ms);
    {
        std::lock_guard lock(fake.mutex);
        EXPECT_TRUE(fake.sent.empty());
    }
    fake.connected = true;
    fake.events.connected();
    EXPECT_LT(postAll(2), 1s);  // a broker that takes 20 ms a message
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
