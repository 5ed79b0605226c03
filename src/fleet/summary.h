// The station's retained summary (iap/v1/<site>/<station>/summary):
//   {"day":"YYYY-MM-DD","passed":N,"failed":N,"failures":{"<word>":N,...},
//    "last":[<up to 20 attempt messages, newest first>]}
// The day is the station's own: the date of its newest attempt's start, so
// a station in another time zone is counted by its own calendar; "day" is
// "" (and the counts 0) while the station has no result stored. Results are
// as yields count them (malformed lines are none); newest is by start, then id.
// Loaded from the store once, then kept up to date with each newly stored
// attempt, so that a restarted collector says the same as the one before.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fleet/store.h"

namespace iap::fleet {

inline constexpr size_t kSummaryLast = 20;

class StationSummary {
public:
    static StationSummary load(Store& store, const std::string& site, const std::string& station);
    void add(const AttemptLine& stored);  // an attempt stored now (not a duplicate)
    std::string message() const;

private:
    std::string day_;
    int passed_ = 0, failed_ = 0;
    std::map<std::string, int> failures_;
    std::vector<AttemptLine> last_;  // newest first
};

}  // namespace iap::fleet
