// The station's retained summary (iap/v1/<site>/<station>/summary), made
// from the store, so that a restarted collector says the same:
//   {"day":"YYYY-MM-DD","passed":N,"failed":N,"failures":{"<word>":N,...},
//    "last":[<up to 20 attempt messages, newest first>]}
// The day is the station's own: the date of its newest attempt's start, so
// a station in another time zone is counted by its own calendar. "day" is
// "" (and the counts 0) while the station has no result stored.
#pragma once

#include <string>

#include "fleet/store.h"

namespace iap::fleet {

inline constexpr size_t kSummaryLast = 20;

std::string summaryMessage(Store& store, const std::string& site, const std::string& station);

}  // namespace iap::fleet
