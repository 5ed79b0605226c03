// The shipper's loop runs on the caller's thread; the transport's callbacks
// only queue events for it. Each record is a Track: its follower, its state
// file, the confirmed offset, the offset after the last line sent, and the
// lines in flight (their ends, in order). Nothing of a line is kept after it
// is published: a resend reads the record again from the confirmed offset.
#include "fleet/shipper.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "fleet/attempt.h"
#include "fleet/record_follower.h"
#include "fleet/state_file.h"
#include "fleet/stored_positions.h"
#include "fleet/topics.h"
#include "logging/diagnostics.h"
#include "logging/logging.h"

namespace iap::fleet {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// After a connection, how long the collector's retained `stored` message is
// waited for before lines go out from the state file's position.
constexpr auto kStoredWait = 1s;
constexpr auto kSaveEvery = 250ms;
constexpr auto kStatusEvery = 1s;
// Resends without any confirmation back off up to this.
constexpr auto kResendCap = std::chrono::seconds(300);

std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms));
    return text;
}

fs::path normalRecordPath(const fs::path& record) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(record, ec);
    return (ec ? record : absolute).lexically_normal();
}

}  // namespace

std::vector<fs::path> defaultRecords() {
    std::vector<fs::path> records;
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    if (!ec) records.push_back((here / kUpgradeRecordName).lexically_normal());
    const fs::path state = userStateFolder();
    if (!state.empty()) {
        const fs::path inState = (state / kUpgradeRecordName).lexically_normal();
        if (records.empty() || records.front() != inState) records.push_back(inState);
    }
    return records;
}

struct Shipper::Impl {
    struct Flight {
        uint64_t end = 0;
        int id = -1;
        bool acked = false;
    };
    struct Track {
        Track(const fs::path& path, const ShipperOptions& o)
            : follower(path, o.site, o.station), state(path, o.stateFolder), record(pathText(path)) {}
        RecordFollower follower;
        StateFile state;
        std::string record;
        std::string gen;          // of confirmed ("" before the first read)
        uint64_t confirmed = 0;   // stored (or acknowledged) up to here
        uint64_t sent = 0;        // published up to here
        std::deque<Flight> flights;
        uint64_t countedEnd = 0, backlog = 0;  // line ends in [max(confirmed, header end), countedEnd)
        bool dirty = false;       // the state file is behind
        bool torn = false;        // the last read stopped at a torn line
    };
    struct Event {
        enum Kind { Connected, Disconnected, Message, Acknowledged } kind;
        std::string topic, text;
        int id = -1;
    };

    Impl(ShipperOptions o, Transport& t) : options(std::move(o)), transport(t) {
        if (!validName(options.site)) throw std::invalid_argument("the site name \"" + options.site + "\" is empty or holds / + # or NUL");
        if (!validName(options.station)) {
            throw std::invalid_argument("the station name \"" + options.station + "\" is empty or holds / + # or NUL");
        }
        if (options.window == 0) options.window = 1;
        if (options.stateFolder.empty()) options.stateFolder = userStateFolder();
        if (options.records.empty()) options.records = defaultRecords();
        std::vector<fs::path> seen;
        for (const fs::path& given : options.records) {
            const fs::path path = normalRecordPath(given);
            if (std::find(seen.begin(), seen.end(), path) != seen.end()) continue;
            seen.push_back(path);
            auto& track = tracks.emplace_back(std::make_unique<Track>(path, options));
            if (const auto saved = track->state.load()) {
                track->follower.resume(*saved);
                track->gen = saved->gen;
                track->confirmed = track->sent = saved->confirmed;
            }
        }
        attemptTopic = stationTopic(options.site, options.station, "attempt");
        statusTopic = stationTopic(options.site, options.station, "status");
        storedTopic = stationTopic(options.site, options.station, "stored");
    }

    // The transport's thread.
    void post(Event event) {
        {
            std::lock_guard lock(mutex);
            events.push_back(std::move(event));
        }
        wake.notify_all();
    }

    void run();
    void handle(const Event& event, Clock::time_point now);
    void onStored(const StoredPositions& positions);
    void onAcknowledged(int id);
    void pump(Track& t, size_t maxLines);
    void growBacklog(Track& t);
    void confirmTo(Track& t, uint64_t end);
    void resendAll();
    void saveStates();
    void publishStatus(bool online);
    size_t inFlight() const {
        size_t n = 0;
        for (const auto& t : tracks) n += t->flights.size();
        return n;
    }
    void updateFigures() {
        uint64_t b = 0;
        for (const auto& t : tracks) b += t->backlog;
        backlog = b;
    }

    ShipperOptions options;
    Transport& transport;
    std::vector<std::unique_ptr<Track>> tracks;
    std::string attemptTopic, statusTopic, storedTopic;

    std::mutex mutex;  // events, against the transport's thread
    std::condition_variable wake;
    std::deque<Event> events;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> published{0}, confirmed{0}, backlog{0};

    // The loop's own.
    bool connected = false, storedSeen = false, lossSaid = false;
    Clock::time_point connectedAt{}, lastProgress{}, nextSave{}, nextStatus{};
    std::chrono::seconds resendInterval{0};
    std::string epoch;
    std::unordered_map<int, Track*> flightIds;  // --confirm broker: message ID -> its record
    std::string lastShipped;
    std::string statusSent;
};

void Shipper::Impl::growBacklog(Track& t) {
    const uint64_t headerEnd = t.follower.headerEnd();
    if (headerEnd == 0) return;
    const uint64_t base = std::max(t.confirmed, headerEnd);
    if (t.countedEnd < base) {
        t.countedEnd = base;
        t.backlog = 0;
    }
    const uint64_t size = t.follower.size();
    if (size > t.countedEnd) {
        t.backlog += t.follower.countLineEnds(t.countedEnd, size);
        t.countedEnd = size;
    }
}

void Shipper::Impl::confirmTo(Track& t, uint64_t end) {
    if (end <= t.confirmed) return;
    const uint64_t base = std::max(t.confirmed, t.follower.headerEnd());
    uint64_t lines = 0;
    if (end >= t.countedEnd) {
        lines = t.backlog + (end > t.countedEnd ? t.follower.countLineEnds(t.countedEnd, end) : 0);
        t.backlog = 0;
        t.countedEnd = end;
    } else if (end > base) {
        lines = t.follower.countLineEnds(base, end);
        t.backlog -= std::min(lines, t.backlog);
    }
    confirmed += lines;
    t.confirmed = end;
    t.sent = std::max(t.sent, end);
    while (!t.flights.empty() && t.flights.front().end <= end) {
        flightIds.erase(t.flights.front().id);
        t.flights.pop_front();
    }
    t.dirty = true;
    lastProgress = Clock::now();
    resendInterval = options.resendAfter;
}

void Shipper::Impl::resendAll() {
    for (auto& t : tracks) {
        t->sent = t->confirmed;
        t->flights.clear();
        t->torn = false;
    }
    flightIds.clear();
}

void Shipper::Impl::onStored(const StoredPositions& positions) {
    const bool newEpoch = !epoch.empty() && positions.epoch != epoch;
    epoch = positions.epoch;
    storedSeen = true;
    for (const StoredRecord& r : positions.records) {
        for (auto& t : tracks) {
            // Positions of another generation (the record started over since) are old news.
            if (t->record == r.record && t->gen == r.gen && !t->gen.empty()) confirmTo(*t, r.end);
        }
    }
    // A collector that started again may have lost what its broker session
    // held: everything unconfirmed goes again.
    if (newEpoch) resendAll();
}

void Shipper::Impl::onAcknowledged(int id) {
    const auto it = flightIds.find(id);
    if (it == flightIds.end()) return;
    Track& t = *it->second;
    for (Flight& f : t.flights) {
        if (f.id == id) f.acked = true;
    }
    uint64_t end = 0;
    for (const Flight& f : t.flights) {
        if (!f.acked) break;
        end = f.end;
    }
    if (end > 0) confirmTo(t, end);
}

void Shipper::Impl::handle(const Event& event, Clock::time_point now) {
    switch (event.kind) {
    case Event::Connected:
        connected = true;
        connectedAt = now;
        storedSeen = false;
        if (lossSaid) warning("connected to the broker again");
        lossSaid = false;
        resendAll();
        statusSent.clear();
        publishStatus(true);
        break;
    case Event::Disconnected:
        if (!lossSaid) warning("the broker: " + event.text + "; reconnecting and keeping the lines in the record");
        lossSaid = true;
        connected = false;
        resendAll();
        break;
    case Event::Message:
        if (!options.confirmByBroker && event.topic == storedTopic) {
            if (const auto positions = readStoredMessage(event.text)) onStored(*positions);
        }
        break;
    case Event::Acknowledged:
        if (options.confirmByBroker) onAcknowledged(event.id);
        break;
    }
}

void Shipper::Impl::pump(Track& t, size_t maxLines) {
    std::vector<AttemptLine> lines = t.follower.read(t.sent, maxLines);
    t.follower.restarted();  // the follower has said it as a warning
    const std::string& gen = t.follower.gen();
    if (!gen.empty() && gen != t.gen) {
        // The first read of a record without a state file, or one started over.
        t.gen = gen;
        t.confirmed = t.sent = 0;
        for (const Flight& f : t.flights) flightIds.erase(f.id);
        t.flights.clear();
        t.countedEnd = t.backlog = 0;
        t.dirty = true;
    }
    growBacklog(t);
    t.torn = lines.size() < maxLines && (lines.empty() ? t.sent : lines.back().end) < t.follower.size();
    for (const AttemptLine& line : lines) {
        const int id = transport.publish({attemptTopic, attemptMessage(line), 1, false});
        if (id < 0) {
            t.torn = false;
            break;  // not connected: read again from sent later
        }
        if (inFlight() == 0) lastProgress = Clock::now();
        t.flights.push_back({line.end, id, false});
        if (options.confirmByBroker) flightIds[id] = &t;
        t.sent = line.end;
        ++published;
        lastShipped = utcNow();
    }
}

void Shipper::Impl::saveStates() {
    for (auto& t : tracks) {
        if (!t->dirty || t->gen.empty()) continue;
        if (t->state.save(t->follower.position(t->confirmed))) t->dirty = false;
    }
}

void Shipper::Impl::publishStatus(bool online) {
    nlohmann::json records = nlohmann::json::array();
    for (const auto& t : tracks) records.push_back(t->record);
    nlohmann::json status = {{"online", online},
                             {"version", options.version},
                             {"records", std::move(records)},
                             {"backlog", backlog.load()},
                             {"last_shipped", lastShipped.empty() ? nlohmann::json() : nlohmann::json(lastShipped)}};
    std::string text = status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text == statusSent) return;
    if (transport.publish({statusTopic, text, 1, true}) >= 0) statusSent = std::move(text);
}

void Shipper::Impl::run() {
    ConnectOptions connect = options.connect;
    if (connect.clientId.empty()) connect.clientId = "usb-iap-fleet-ship-" + options.site + "-" + options.station;
    if (!connect.will) connect.will = Will{statusTopic, R"({"online":false})", 1, true};
    resendInterval = options.resendAfter;
    for (auto& t : tracks) pump(*t, 0);
    updateFigures();

    TransportEvents callbacks;
    callbacks.connected = [this] { post({Event::Connected, {}, {}, -1}); };
    callbacks.disconnected = [this](const std::string& why) { post({Event::Disconnected, {}, why, -1}); };
    callbacks.message = [this](const Message& m) { post({Event::Message, m.topic, m.payload, -1}); };
    callbacks.acknowledged = [this](int id) { post({Event::Acknowledged, {}, {}, id}); };
    transport.start(connect, std::move(callbacks));
    if (!options.confirmByBroker) transport.subscribe(storedTopic, 1);

    Clock::time_point nextPoll = Clock::now();
    std::deque<Event> batch;
    while (!stopping) {
        {
            std::unique_lock lock(mutex);
            wake.wait_until(lock, nextPoll, [this] { return !events.empty() || stopping; });
            batch.swap(events);
        }
        if (stopping) break;
        Clock::time_point now = Clock::now();
        for (const Event& e : batch) handle(e, now);
        batch.clear();

        const bool pollDue = now >= nextPoll;
        if (pollDue) nextPoll = now + options.poll;
        const bool ready = connected && (options.confirmByBroker || storedSeen || now - connectedAt >= kStoredWait);
        // Lines are read in batches: on the poll, or once a good part of the window is free.
        size_t room = ready ? options.window - std::min(options.window, inFlight()) : 0;
        const size_t batchFloor = std::max<size_t>(1, options.window / 8);
        for (auto& t : tracks) {
            const bool more = !t->torn && t->sent < t->follower.size();
            if (pollDue || (room >= batchFloor && more)) {
                pump(*t, room);
                room = ready ? options.window - std::min(options.window, inFlight()) : 0;
            }
        }
        updateFigures();

        now = Clock::now();
        if (ready && inFlight() > 0 && now - lastProgress >= resendInterval) {
            resendAll();
            lastProgress = now;
            resendInterval = std::min<std::chrono::seconds>(resendInterval * 2, std::max(options.resendAfter, kResendCap));
            nextPoll = now;
        }
        if (now >= nextSave) {
            saveStates();
            nextSave = now + kSaveEvery;
        }
        if (connected && now >= nextStatus) {
            publishStatus(true);
            nextStatus = now + kStatusEvery;
        }
    }
    saveStates();
    if (transport.isConnected()) publishStatus(false);
    transport.stop();
}

Shipper::Shipper(ShipperOptions options, Transport& transport) : impl_(std::make_unique<Impl>(std::move(options), transport)) {}
Shipper::~Shipper() = default;

void Shipper::run() { impl_->run(); }

void Shipper::stop() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
}

Shipper::Figures Shipper::figures() const { return {impl_->published, impl_->confirmed, impl_->backlog}; }

}  // namespace iap::fleet
