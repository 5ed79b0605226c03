// Each record's lines: read and published, their confirmations (the
// collector's stored positions or the broker's acknowledgements), the
// backlog, and the state files.
#include <algorithm>

#include "fleet/attempt.h"
#include "fleet/shipper_impl.h"
#include "fleet/topics.h"
#include "fleet/utc_time.h"
#include "logging/diagnostics.h"

namespace iap::fleet {

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
        lastShipped = utcTime();
    }
}

void Shipper::Impl::saveStates() {
    for (auto& t : tracks) {
        if (!t->dirty || t->gen.empty()) continue;
        if (t->state.save(t->follower.position(t->confirmed))) t->dirty = false;
    }
}

}  // namespace iap::fleet
