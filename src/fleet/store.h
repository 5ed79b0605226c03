// The central store of every station's attempts: SQLite (a file path) or
// PostgreSQL (a postgresql:// URL), one schema for both.
//   attempts    every record column, site, station, id (primary key), the
//               record, offset, end, gen, first, malformed, raw and the time
//               received; indexed on serial, (site, station, start) and start.
//               Each of kRecordColumns is a text column of its own (NULL where
//               the line's header lacks it); a message's other columns (a
//               record written by a newer tool) are kept together in `extra`,
//               a JSON object, and come back as columns when read. A NUL in a
//               text is kept as U+FFFD (PostgreSQL's text cannot hold it);
//               raw is kept as bytes. received is the collector's UTC time,
//               ISO 8601 with milliseconds. A column added to kRecordColumns
//               is added to an older store's table when it is opened.
//   rejected    messages that could not be stored: topic, raw bytes, reason,
//               time received
//   positions   how far each (site, station, record, gen) is stored without
//               gaps, so that a restarted collector publishes the same
// A store is used from one thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/attempt.h"
#include "logging/logging.h"

namespace iap::fleet {

// The upgrade record's columns, in its order (the record's own list).
inline constexpr const auto& kRecordColumns = kUpgradeRecordColumns;

struct RecordKey {
    std::string site, station, record, gen;
    auto operator<=>(const RecordKey&) const = default;
};

struct RejectedMessage {
    std::string topic;
    std::string payload;  // the raw bytes
    std::string reason;
};

struct StoreBatch {
    std::vector<AttemptLine> attempts;
    std::vector<RejectedMessage> rejected;
    // Positions to write in the same transaction.
    std::vector<std::pair<RecordKey, uint64_t>> positions;
};

struct StoreResult {
    int stored = 0;      // new attempts
    int duplicates = 0;  // ids stored before: ignored
    std::vector<bool> added;  // per attempt of the batch: stored now (false: a duplicate)
};

struct AttemptQuery {
    std::optional<std::string> serial, station, site, outcome;
    std::optional<std::string> since;  // compared with the start column (ISO 8601)
    // 0: every attempt that matches, oldest first (by start, then id); else
    // only the newest `last` of those with a start, newest first.
    size_t last = 0;
};

struct StoredAttempt {
    AttemptLine line;
    std::string received;  // ISO 8601
};

// Passed: outcome "passed"; failed: any other outcome. Malformed lines are
// no results and count in neither.
struct YieldRow {
    std::string site, station, day;  // day: the start column's date (the station's own)
    int passed = 0, failed = 0;
    std::vector<std::pair<std::string, int>> failures;  // word -> count, by word
};

class Store {
public:
    virtual ~Store() = default;
    // Writes the batch in one transaction: all of it or (throwing
    // std::runtime_error) none. Rejected payloads are kept as bytes.
    virtual StoreResult write(const StoreBatch& batch) = 0;
    virtual std::vector<std::pair<RecordKey, uint64_t>> positions() = 0;
    virtual std::vector<StoredAttempt> attempts(const AttemptQuery& query) = 0;
    virtual std::vector<YieldRow> yields(const AttemptQuery& query) = 0;
    virtual int64_t rejectedCount() = 0;
};

// "postgresql://..." or "postgres://...": PostgreSQL; anything else: an
// SQLite file, made with the schema when new. Throws std::runtime_error with
// a text for the user when the store cannot be opened.
std::unique_ptr<Store> openStore(const std::string& where);

}  // namespace iap::fleet
