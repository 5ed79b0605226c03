// The collector's retained message on iap/v1/<site>/<station>/stored: how far
// each record of the station is stored without gaps. The shipper takes it as
// its confirmed position, and sends again from it when the epoch changes.
//
//   {"epoch":"<changes at each collector start>",
//    "records":[{"record":"<path on the station>","gen":"<generation>","end":N}, ...]}
//
// end is the offset after the last line stored without a gap before it; a
// record the collector has seen nothing of is absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iap::fleet {

struct StoredRecord {
    std::string record, gen;
    uint64_t end = 0;
    bool operator==(const StoredRecord&) const = default;
};

struct StoredPositions {
    std::string epoch;
    std::vector<StoredRecord> records;
    bool operator==(const StoredPositions&) const = default;
};

std::string storedMessage(const StoredPositions& positions);

// None for a payload that is not such a message (the shipper ignores it).
std::optional<StoredPositions> readStoredMessage(std::string_view payload);

}  // namespace iap::fleet
