#include "fleet/stored_tracker.h"

namespace iap::fleet {

void StoredTracker::load(const std::vector<std::pair<RecordKey, uint64_t>>& positions) {
    tracks_.clear();
    for (const auto& [key, end] : positions) tracks_[key].end = end;
}

StoredTracker::Proposal StoredTracker::propose(const std::vector<AttemptLine>& lines) const {
    Proposal p;
    for (const AttemptLine& line : lines) {
        const RecordKey key{line.site, line.station, line.record, line.gen};
        auto it = p.tracks.find(key);
        if (it == p.tracks.end()) {
            const auto known = tracks_.find(key);
            it = p.tracks.emplace(key, known == tracks_.end() ? Track{} : known->second).first;
        }
        Track& t = it->second;
        if (!t.end && line.first) t.end = line.offset;
        if (t.end && line.offset < *t.end) continue;  // stored before
        t.waiting[line.offset] = std::max(t.waiting[line.offset], line.end);
        if (t.end) {
            for (auto w = t.waiting.begin(); w != t.waiting.end() && w->first <= *t.end; w = t.waiting.erase(w)) {
                t.end = std::max(*t.end, w->second);
            }
        }
        if (t.waiting.size() > kMaxWaiting) t.waiting.erase(std::prev(t.waiting.end()));
    }
    for (const auto& [key, t] : p.tracks) {
        const auto known = tracks_.find(key);
        if (t.end && (known == tracks_.end() || known->second.end != t.end)) p.moved.push_back({key, *t.end});
    }
    return p;
}

void StoredTracker::commit(Proposal proposal) {
    for (auto& [key, t] : proposal.tracks) tracks_[key] = std::move(t);
}

std::vector<std::pair<std::string, std::string>> StoredTracker::stations() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& [key, t] : tracks_) {
        if (out.empty() || out.back() != std::pair(key.site, key.station)) out.emplace_back(key.site, key.station);
    }
    return out;
}

StoredPositions StoredTracker::station(const std::string& site, const std::string& station, const std::string& epoch) const {
    StoredPositions out{epoch, {}};
    for (auto it = tracks_.lower_bound(RecordKey{site, station, "", ""});
         it != tracks_.end() && it->first.site == site && it->first.station == station; ++it) {
        if (it->second.end) out.records.push_back({it->first.record, it->first.gen, *it->second.end});
    }
    return out;
}

}  // namespace iap::fleet
