// The shipper's inside, shared by its two files: shipper.cpp (the loop, its
// events, the status) and shipper_tracks.cpp (each record's lines sent and
// confirmed). Each record is a Track: its follower, its state file, the
// confirmed offset, the offset after the last line sent, and the lines in
// flight (their ends, in order). Nothing of a line is kept after it is
// published: a resend reads the record again from the confirmed offset.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "fleet/record_follower.h"
#include "fleet/shipper.h"
#include "fleet/state_file.h"
#include "fleet/stored_positions.h"

namespace iap::fleet {

struct Shipper::Impl {
    using Clock = std::chrono::steady_clock;
    struct Flight {
        uint64_t end = 0;
        int id = -1;
        bool acked = false;
    };
    struct Track {
        Track(const std::filesystem::path& path, const ShipperOptions& o)
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

    Impl(ShipperOptions o, Transport& t);

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

}  // namespace iap::fleet
