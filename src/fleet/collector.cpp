#include "fleet/collector.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <set>

#include "bytes/uuid.h"
#include "fleet/stored_positions.h"
#include "fleet/stored_tracker.h"
#include "fleet/summary.h"
#include "fleet/topics.h"
#include "logging/diagnostics.h"

namespace iap::fleet {

using namespace std::chrono_literals;

namespace {

// A message as it waits for the store: a payload beyond the attempt limit
// is cut to it (it is rejected as too large and kept that far).
struct Inbound {
    std::string topic, payload;
    size_t size = 0;  // the payload's own size
};

// Waiting in memory at most; beyond it the transport's thread waits and the broker keeps them.
constexpr size_t kInboxMessages = 4096;
constexpr size_t kInboxBytes = 16u << 20;
constexpr auto kTurn = 200ms;
constexpr auto kMaxBackoff = 10s;

}  // namespace

struct Collector::Impl {
    CollectorOptions options;
    Transport& transport;
    Store& store;

    std::mutex mutex;
    std::condition_variable work, room;
    std::deque<Inbound> inbox;
    size_t inboxBytes = 0;
    bool stopping = false, republish = false;

    std::atomic<uint64_t> stored{0}, duplicates{0}, rejected{0};

    std::string epoch;
    StoredTracker tracker;
    std::map<std::pair<std::string, std::string>, StationSummary> summaries;  // by site, station

    Impl(CollectorOptions o, Transport& t, Store& s) : options(std::move(o)), transport(t), store(s) {}

    void receive(const Message& m) {
        Inbound in{m.topic, m.payload.substr(0, kMaxAttemptPayload), m.payload.size()};
        std::unique_lock lock(mutex);
        room.wait(lock, [&] { return stopping || inbox.empty() || (inbox.size() < kInboxMessages && inboxBytes < kInboxBytes); });
        if (stopping) return;  // not stored: its shipper sends it again from the stored position
        inboxBytes += in.topic.size() + in.payload.size();
        inbox.push_back(std::move(in));
        work.notify_one();
    }

    // Waits up to d, or less when stopping; false once stopping.
    bool pause(std::chrono::milliseconds d) {
        std::unique_lock lock(mutex);
        return !work.wait_for(lock, d, [&] { return stopping; });
    }

    bool stopped() {
        std::lock_guard lock(mutex);
        return stopping;
    }

    void build(const std::vector<Inbound>& messages, StoreBatch& batch) {
        for (const Inbound& m : messages) {
            std::variant<AttemptLine, Rejected> read =
                m.size > kMaxAttemptPayload ? Rejected{"too large: " + std::to_string(m.size) + " bytes"}
                                            : readAttemptMessage(m.topic, m.payload);
            if (auto* line = std::get_if<AttemptLine>(&read)) {
                // Both stores keep offsets as signed 64-bit integers.
                if (line->end <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                    batch.attempts.push_back(std::move(*line));
                    continue;
                }
                read = Rejected{"wrong type: end (beyond 2^63)"};
            }
            batch.rejected.push_back({m.topic, m.payload, std::get<Rejected>(read).reason});
        }
    }

    void publishStored(const std::string& site, const std::string& station) {
        transport.publish({stationTopic(site, station, "stored"), storedMessage(tracker.station(site, station, epoch)), 1, true});
    }

    void after(const StoreBatch& batch, const StoreResult& result) {
        using Key = std::pair<std::string, std::string>;
        std::set<Key> stations, touched, loaded;
        for (const AttemptLine& a : batch.attempts) stations.emplace(a.site, a.station);
        for (const auto& [site, station] : stations) publishStored(site, station);
        for (size_t i = 0; i < batch.attempts.size() && i < result.added.size(); ++i) {
            const AttemptLine& a = batch.attempts[i];
            const Key key(a.site, a.station);
            if (!result.added[i] || loaded.contains(key)) continue;
            touched.insert(key);
            if (const auto it = summaries.find(key); it != summaries.end()) {
                it->second.add(a);
                continue;
            }
            loaded.insert(key);  // the first of this station: the store holds the batch already
            try {
                summaries.emplace(key, StationSummary::load(store, a.site, a.station));
            } catch (const std::exception& e) {
                warning("collector: the summary of " + a.site + "/" + a.station + " cannot be read from the store: " + e.what());
            }
        }
        for (const Key& key : touched) {
            if (const auto it = summaries.find(key); it != summaries.end()) {
                transport.publish({stationTopic(key.first, key.second, "summary"), it->second.message(), 1, true});
            }
        }
    }

    void loadPositions() {
        for (auto wait = 1000ms; !stopped(); wait = std::min<std::chrono::milliseconds>(wait * 2, kMaxBackoff)) {
            try {
                tracker.load(store.positions());
                return;
            } catch (const std::exception& e) {
                warning("collector: the stored positions cannot be read (" + std::string(e.what()) + "); trying again in " +
                        std::to_string(wait.count() / 1000) + " s");
            }
            if (!pause(wait)) return;
        }
    }

    void loop() {
        std::vector<Inbound> pending;
        StoreBatch batch;
        StoredTracker::Proposal proposal;
        std::chrono::milliseconds wait = 1000ms;
        bool failing = false;
        for (;;) {
            bool again = false;
            {
                std::unique_lock lock(mutex);
                work.wait_for(lock, kTurn, [&] { return stopping || republish || !inbox.empty() || !pending.empty(); });
                if (stopping) return;
                if (pending.empty() && !inbox.empty()) {
                    const size_t n = std::min(inbox.size(), std::max<size_t>(options.batch, 1));
                    pending.assign(std::make_move_iterator(inbox.begin()), std::make_move_iterator(inbox.begin() + long(n)));
                    for (const Inbound& m : pending) inboxBytes -= m.topic.size() + m.payload.size();
                    inbox.erase(inbox.begin(), inbox.begin() + long(n));
                    room.notify_all();
                    batch = {};
                    build(pending, batch);
                    proposal = tracker.propose(batch.attempts);
                    batch.positions = proposal.moved;
                }
                again = std::exchange(republish, false);
            }
            if (again) {
                for (const auto& [site, station] : tracker.stations()) publishStored(site, station);
            }
            if (pending.empty()) continue;
            StoreResult result;
            try {
                result = store.write(batch);
            } catch (const std::exception& e) {
                warning("collector: the store cannot be written (" + std::string(e.what()) + "): " +
                        std::to_string(pending.size()) + " messages wait and no stored position moves; trying again in " +
                        std::to_string(wait.count() / 1000) + " s");
                failing = true;
                if (!pause(wait)) return;
                wait = std::min<std::chrono::milliseconds>(wait * 2, kMaxBackoff);
                continue;
            }
            if (failing) warning("collector: the store is written again");
            failing = false;
            wait = 1000ms;
            tracker.commit(std::move(proposal));
            after(batch, result);
            stored += uint64_t(result.stored);
            duplicates += uint64_t(result.duplicates);
            rejected += batch.rejected.size();
            pending.clear();
        }
    }
};

Collector::Collector(CollectorOptions options, Transport& transport, Store& store)
    : impl_(std::make_unique<Impl>(std::move(options), transport, store)) {}

Collector::~Collector() = default;

void Collector::run() {
    Impl& c = *impl_;
    c.epoch = uuidText(uuidV7());
    c.loadPositions();
    if (c.stopped()) return;
    ConnectOptions connect = c.options.connect;
    if (connect.clientId.empty()) connect.clientId = kCollectorClientId;
    connect.cleanSession = c.options.cleanSession;
    TransportEvents events;
    events.connected = [&c] {
        std::lock_guard lock(c.mutex);
        c.republish = true;
        c.work.notify_one();
    };
    events.message = [&c](const Message& m) { c.receive(m); };
    c.transport.subscribe(everyStation("attempt"), 1);
    c.transport.start(connect, std::move(events));
    c.loop();
    c.transport.stop();
}

void Collector::stop() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->work.notify_all();
    impl_->room.notify_all();
}

Collector::Figures Collector::figures() const { return {impl_->stored, impl_->duplicates, impl_->rejected}; }

}  // namespace iap::fleet
