// The shipper over an in-memory broker: after two of five lines are
// confirmed (by the collector's `stored` position or by the broker's
// acknowledgements), a lost connection, a new collector epoch, a silence
// longer than resendAfter, or a restart from the state file sends exactly the
// three unconfirmed lines again, with the same IDs; and stop() ends it
// within 2 s, with the retained status offline last.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "fleet/record_follower.h"
#include "fleet/shipper.h"
#include "fleet/stored_positions.h"
#include "support/test_packages.h"

namespace iap::fleet {
namespace {

using namespace std::chrono_literals;

class FakeTransport final : public Transport {
public:
    void start(const ConnectOptions& options, TransportEvents events) override {
        std::lock_guard lock(mutex_);
        options_ = options;
        events_ = std::move(events);
        ++starts_;
    }
    void stop() override { connected_ = false; }
    bool isConnected() const override { return connected_; }
    int publish(const Message& m) override {
        std::lock_guard lock(mutex_);
        if (!connected_) return -1;
        sent_.push_back(m);
        return ++lastId_;
    }
    bool subscribe(const std::string& pattern, int) override {
        std::lock_guard lock(mutex_);
        subscribed_ = pattern;
        return true;
    }

    TransportEvents events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void connect() {
        connected_ = true;
        events().connected();
    }
    void drop() {
        connected_ = false;
        events().disconnected("gone");
    }
    std::vector<Message> sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    // The attempts sent from the index `from` of sent() on.
    std::vector<AttemptLine> attempts(size_t from = 0) {
        std::vector<AttemptLine> out;
        const std::vector<Message> all = sent();
        for (size_t i = from; i < all.size(); ++i) {
            const auto read = readAttemptMessage(all[i].topic, all[i].payload);
            if (const auto* line = std::get_if<AttemptLine>(&read)) out.push_back(*line);
        }
        return out;
    }
    int starts() {
        std::lock_guard lock(mutex_);
        return starts_;
    }
    std::string subscribed() {
        std::lock_guard lock(mutex_);
        return subscribed_;
    }

private:
    std::mutex mutex_;
    ConnectOptions options_;
    TransportEvents events_;
    std::atomic<bool> connected_{false};
    std::vector<Message> sent_;
    std::string subscribed_;
    int lastId_ = 0, starts_ = 0;
};

template <class F>
bool waitFor(F done, std::chrono::milliseconds limit = 5s) {
    for (const auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

// One shipper on its own thread.
struct Running {
    Running(ShipperOptions options, Transport& transport) : shipper(std::move(options), transport) {
        thread = std::thread([this] { shipper.run(); });
    }
    // How long run took to return after stop().
    std::chrono::milliseconds stop() {
        const auto began = std::chrono::steady_clock::now();
        shipper.stop();
        thread.join();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    }
    ~Running() {
        if (thread.joinable()) stop();
    }
    Shipper shipper;
    std::thread thread;
};

enum class Then { Reconnect, NewEpoch, Silence, Restart };

TEST(Shipper, SendsOnlyTheUnconfirmedLinesAgainWithTheSameIds) {
    struct Case {
        const char* name;
        bool byBroker;
        Then then;
        bool besideBlocked = false;  // the record's folder cannot take the state file
    };
    const Case cases[] = {
        {"a lost connection, stored", false, Then::Reconnect},
        {"a lost connection, acknowledged", true, Then::Reconnect},
        {"a new collector epoch", false, Then::NewEpoch},
        {"nothing confirmed for resendAfter", false, Then::Silence},
        {"a restart, stored", false, Then::Restart},
        {"a restart, acknowledged", true, Then::Restart},
        {"a restart, the state file in the state folder", false, Then::Restart, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const auto record = dir / "upgrade-record.csv";
        std::string text = "start,outcome,attempt_id\r\n";
        for (int i = 0; i < 5; ++i) text += "t" + std::to_string(i) + ",passed,A" + std::to_string(i) + "\r\n";
        std::ofstream(record, std::ios::binary) << text;
        if (c.besideBlocked) std::filesystem::create_directory(dir / "upgrade-record.csv.ship-state");
        ShipperOptions o;
        o.site = "s1";
        o.station = "st1";
        o.records = {record};
        o.confirmByBroker = c.byBroker;
        o.poll = 20ms;
        o.resendAfter = 1s;
        o.stateFolder = dir / "state";

        FakeTransport broker;
        auto shipper = std::make_unique<Running>(o, broker);
        ASSERT_TRUE(waitFor([&] { return broker.starts() == 1; }));
        broker.connect();
        ASSERT_TRUE(waitFor([&] { return broker.attempts().size() == 5; }));
        const std::vector<AttemptLine> first = broker.attempts();
        // The first two lines confirmed.
        if (c.byBroker) {
            // Each publish takes the next message ID: the attempts' are theirs in sent().
            std::vector<int> ids;
            const auto all = broker.sent();
            for (size_t i = 0; i < all.size(); ++i) {
                if (all[i].topic.ends_with("/attempt")) ids.push_back(static_cast<int>(i) + 1);
            }
            broker.events().acknowledged(ids[1]);
            broker.events().acknowledged(ids[0]);
        } else {
            EXPECT_EQ(broker.subscribed(), "iap/v1/s1/st1/stored");
            broker.events().message({"iap/v1/s1/st1/stored",
                                     storedMessage({"E1", {{pathText(record), first[0].gen, first[1].end}}}), 1, true});
        }
        ASSERT_TRUE(waitFor([&] {
            const Shipper::Figures f = shipper->shipper.figures();
            return f.confirmed == 2 && f.backlog == 3;
        }));
        const size_t before = broker.sent().size();

        switch (c.then) {
        case Then::Reconnect:
            broker.drop();
            broker.connect();
            break;
        case Then::NewEpoch:
            broker.events().message({"iap/v1/s1/st1/stored",
                                     storedMessage({"E2", {{pathText(record), first[0].gen, first[1].end}}}), 1, true});
            break;
        case Then::Silence:
            break;
        case Then::Restart:
            EXPECT_LT(shipper->stop(), 2s);
            shipper = std::make_unique<Running>(o, broker);
            ASSERT_TRUE(waitFor([&] { return broker.starts() == 2; }));
            broker.connect();
            break;
        }
        ASSERT_TRUE(waitFor([&] { return broker.attempts(before).size() >= 3; }, 4s));
        std::this_thread::sleep_for(100ms);
        const std::vector<AttemptLine> again = broker.attempts(before);
        ASSERT_EQ(again.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(again[i].id, first[i + 2].id);
            EXPECT_EQ(again[i].offset, first[i + 2].offset);
        }
        EXPECT_EQ(c.besideBlocked, std::filesystem::exists(dir / "state"));

        EXPECT_LT(shipper->stop(), 2s);
        const Message last = broker.sent().back();
        EXPECT_EQ(last.topic, "iap/v1/s1/st1/status");
        EXPECT_TRUE(last.retain);
        EXPECT_NE(last.payload.find("\"online\":false"), std::string::npos);
    }
}

}  // namespace
}  // namespace iap::fleet
