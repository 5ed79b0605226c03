#include "fleet/summary.h"

#include <nlohmann/json.hpp>

namespace iap::fleet {

using nlohmann::json;

std::string summaryMessage(Store& store, const std::string& site, const std::string& station) {
    AttemptQuery q;
    q.site = site;
    q.station = station;
    q.last = kSummaryLast;
    const std::vector<StoredAttempt> last = store.attempts(q);
    json out{{"day", ""}, {"passed", 0}, {"failed", 0}, {"failures", json::object()}, {"last", json::array()}};
    for (const StoredAttempt& a : last) out["last"].push_back(json::parse(attemptMessage(a.line)));
    if (!last.empty()) {
        const std::string day = last.front().line.columns.at("start").substr(0, 10);
        out["day"] = day;
        q.last = 0;
        q.since = day;
        for (const YieldRow& y : store.yields(q)) {
            if (y.day != day) continue;
            out["passed"] = y.passed;
            out["failed"] = y.failed;
            for (const auto& [word, n] : y.failures) out["failures"][word] = n;
        }
    }
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace iap::fleet
