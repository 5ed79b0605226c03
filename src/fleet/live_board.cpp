#include "fleet/live_board.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

#include "fleet/topics.h"
#include "fleet/utc_time.h"

namespace iap::fleet {
namespace {

using Json = nlohmann::ordered_json;

Json orNull(const std::string& text) { return text.empty() ? Json() : Json(text); }

std::string dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string portPayload(const PortState& s) {
    Json j;
    j["port"] = s.port;
    j["state"] = s.state;
    j["percent"] = s.percent;
    j["bytes_per_second"] = s.bytesPerSecond;
    j["text"] = s.text;
    j["outcome"] = orNull(s.outcome);
    j["failure"] = orNull(s.failure);
    j["serial"] = s.serial;
    j["time"] = utcTime(s.time);
    return dump(j);
}

std::string linePayload(const LineState& s) {
    Json j;
    j["online"] = s.online;
    j["version"] = s.version;
    j["tool"] = s.tool;
    j["firmware"] = s.firmware;
    j["passed"] = s.passed;
    j["failed"] = s.failed;
    j["running"] = s.running;
    return dump(j);
}

void LatestValues::put(Message message) {
    const std::string key = message.topic;
    auto it = entries_.find(key);
    if (it == entries_.end() && entries_.size() >= maxKeys_) {
        // The key sent longest ago that waits for nothing makes room.
        auto oldest = entries_.end();
        for (auto e = entries_.begin(); e != entries_.end(); ++e) {
            if (!e->second.waiting && (oldest == entries_.end() || e->second.sent < oldest->second.sent)) oldest = e;
        }
        if (oldest == entries_.end()) return;  // every key waits: the newcomer waits for none of them
        entries_.erase(oldest);
    }
    Entry& entry = entries_[key];
    entry.message = std::move(message);
    entry.waiting = true;
}

std::vector<Message> LatestValues::take(Clock::time_point now) {
    std::vector<Message> due;
    for (auto& [key, entry] : entries_) {
        if (!entry.waiting || (entry.sent && now - *entry.sent < interval_)) continue;
        entry.waiting = false;
        entry.sent = now;
        due.push_back(entry.message);
    }
    return due;
}

std::optional<LatestValues::Clock::time_point> LatestValues::nextDue() const {
    std::optional<Clock::time_point> next;
    for (const auto& [key, entry] : entries_) {
        if (!entry.waiting) continue;
        const Clock::time_point at = entry.sent ? *entry.sent + interval_ : Clock::time_point::min();
        if (!next || at < *next) next = at;
    }
    return next;
}

void LatestValues::again() {
    for (auto& [key, entry] : entries_) entry.waiting = true;
}

LiveBoard::LiveBoard(std::unique_ptr<Transport> transport, LiveBoardOptions options)
    : transport_(std::move(transport)), options_(std::move(options)),
      latest_(options_.interval, options_.maxPorts + 1) {}

LiveBoard::~LiveBoard() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    transport_->stop();
}

void LiveBoard::start(const LineState& line) {
    ConnectOptions connect;
    connect.broker = options_.broker;
    connect.clientId = options_.clientId;
    connect.user = options_.user;
    connect.password = options_.password;
    connect.caFile = options_.caFile;
    connect.will = Will{stationTopic(options_.site, options_.station, "line"), "{\"online\":false}", 1, true};
    post(line);
    TransportEvents events;
    events.connected = [this] {
        {
            std::lock_guard lock(mutex_);
            latest_.again();
            unacknowledged_ = 0;  // a new connection: the old one's are gone
        }
        wake_.notify_all();
    };
    events.acknowledged = [this](int) {
        {
            std::lock_guard lock(mutex_);
            --unacknowledged_;  // may come before publish returned its ID
        }
        wake_.notify_all();
    };
    transport_->start(connect, std::move(events));
    thread_ = std::thread([this] { run(); });
}

void LiveBoard::post(const PortState& state) {
    Message m{stationTopic(options_.site, options_.station, "port/" + portLevel(state.port)), portPayload(state), 0,
              true};
    {
        std::lock_guard lock(mutex_);
        latest_.put(std::move(m));
    }
    wake_.notify_all();
}

void LiveBoard::post(const LineState& line) {
    Message m{stationTopic(options_.site, options_.station, "line"), linePayload(line), 1, true};
    {
        std::lock_guard lock(mutex_);
        latest_.put(std::move(m));
    }
    wake_.notify_all();
}

void LiveBoard::sendDue(std::unique_lock<std::mutex>& lock) {
    if (!transport_->isConnected()) return;  // the next connection sends every newest state
    const std::vector<Message> due = latest_.take(LatestValues::Clock::now());
    lock.unlock();
    int sent = 0;
    for (const Message& m : due) sent += transport_->publish(m) >= 0 && m.qos > 0 ? 1 : 0;
    lock.lock();
    unacknowledged_ += sent;
}

void LiveBoard::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        sendDue(lock);
        const std::optional<LatestValues::Clock::time_point> next = latest_.nextDue();
        if (next && transport_->isConnected()) {
            wake_.wait_until(lock, std::max(*next, LatestValues::Clock::now()));
        } else {
            // Nothing due, or no broker: a post, a connection or the stop wakes us.
            wake_.wait_for(lock, std::chrono::milliseconds(options_.interval));
        }
    }
}

void LiveBoard::stop(LineState last) {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    // What still waits goes out while connected, within one interval.
    last.online = false;
    post(last);
    std::unique_lock lock(mutex_);
    const auto until = LatestValues::Clock::now() + options_.interval + std::chrono::milliseconds(50);
    while (transport_->isConnected() && latest_.nextDue() && LatestValues::Clock::now() < until) {
        sendDue(lock);
        if (const auto next = latest_.nextDue()) wake_.wait_until(lock, std::clamp(*next, LatestValues::Clock::now(), until));
    }
    // The line's last state acknowledged before the disconnect, for at most
    // a second: the broker keeps it, and no answer is in flight when the
    // connection ends cleanly (so the will stays unsent).
    wake_.wait_for(lock, std::chrono::seconds(1),
                   [this] { return unacknowledged_ <= 0 || !transport_->isConnected(); });
    lock.unlock();
    transport_->stop();
}

}  // namespace iap::fleet
