// The shipper's loop runs on the caller's thread; the transport's callbacks
// only queue events for it (the records' side is shipper_tracks.cpp).
#include "fleet/shipper.h"

#include <algorithm>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "fleet/shipper_impl.h"
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

Shipper::Impl::Impl(ShipperOptions o, Transport& t) : options(std::move(o)), transport(t) {
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
