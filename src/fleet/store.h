// The central store of every station's attempts: SQLite (a file path) or
// PostgreSQL (a postgresql:// URL), one schema for both.
//   attempts    every record column, site, station, id (primary key), the
//               record, offset, end, gen and the time received; indexed on
//               serial, station and start
//   rejected    messages that could not be stored: topic, raw bytes, reason,
//               time received
//   positions   how far each (site, station, record, gen) is stored without
//               gaps, so that a restarted collector publishes the same
// A store is used from one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fleet/attempt.h"

namespace iap::fleet {

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
};

struct AttemptQuery {
    std::optional<std::string> serial, station, site, outcome;
    std::optional<std::string> since;  // compared with the start column (ISO 8601)
};

struct StoredAttempt {
    AttemptLine line;
    std::string received;  // ISO 8601
};

struct YieldRow {
    std::string site, station, day;  // day: the start column's date
    int passed = 0, failed = 0;
    std::vector<std::pair<std::string, int>> failures;  // word -> count
};

class Store {
public:
    virtual ~Store() = default;
    // Writes the batch in one transaction: all of it or (throwing) none.
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
