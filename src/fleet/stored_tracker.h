// How far each (site, station, record, gen) is stored without a gap, as the
// collector keeps it. A record's first line (first: true) starts its
// position; a line whose offset is the position's end moves it to the
// line's end; a line beyond a gap waits (at most kMaxWaiting per record,
// the farthest dropped first: the shipper sends them again from the
// position) until the lines before it arrive.
//
// Two steps, so that a position moves only once its lines are committed:
// propose() works out the positions a batch would give, commit() takes them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fleet/store.h"
#include "fleet/stored_positions.h"

namespace iap::fleet {

class StoredTracker {
public:
    static constexpr size_t kMaxWaiting = 4096;

    struct Track {
        std::optional<uint64_t> end;           // none until the record's first line
        std::map<uint64_t, uint64_t> waiting;  // offset -> end of lines beyond the gap
    };
    // The tracks a batch touches, as they would be after it.
    struct Proposal {
        std::map<RecordKey, Track> tracks;
        std::vector<std::pair<RecordKey, uint64_t>> moved;  // positions to write with the batch
    };

    void load(const std::vector<std::pair<RecordKey, uint64_t>>& positions);
    Proposal propose(const std::vector<AttemptLine>& lines) const;
    void commit(Proposal proposal);

    // The stations known, and one station's stored message.
    std::vector<std::pair<std::string, std::string>> stations() const;
    StoredPositions station(const std::string& site, const std::string& station, const std::string& epoch) const;

private:
    std::map<RecordKey, Track> tracks_;
};

}  // namespace iap::fleet
