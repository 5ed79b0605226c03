// `usb-iap-fleet query`'s output of stored attempts and yields.
//   CSV    a header row, then one row per attempt: site, station, the
//          record's columns (kRecordColumns, then any other column the
//          attempts carry, by name), id, record, offset, end, gen,
//          malformed, raw, received; fields quoted where CSV needs it
//   JSON   one object per line: the attempt message as it was shipped
//          (the same field names, columns the line lacked absent), plus
//          "received" (UTC, ISO 8601)
//   yields one line per site, station and day: passed, failed and the
//          failure words with their counts; as JSON one object per line,
//          {"site","station","day","passed","failed","failures":{"<word>":N}}
#pragma once

#include <ostream>
#include <vector>

#include "fleet/store.h"

namespace iap::fleet {

void writeAttemptsCsv(std::ostream& out, const std::vector<StoredAttempt>& attempts);
void writeAttemptsJson(std::ostream& out, const std::vector<StoredAttempt>& attempts);
void writeYields(std::ostream& out, const std::vector<YieldRow>& rows, bool json);

}  // namespace iap::fleet
