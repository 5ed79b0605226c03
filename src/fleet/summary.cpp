#include "fleet/summary.h"

#include <algorithm>
#include <tuple>

#include <nlohmann/json.hpp>

namespace iap::fleet {

using nlohmann::json;

namespace {

const std::string* start(const AttemptLine& a) {
    const auto it = a.columns.find("start");
    return a.malformed || it == a.columns.end() ? nullptr : &it->second;
}

}  // namespace

StationSummary StationSummary::load(Store& store, const std::string& site, const std::string& station) {
    AttemptQuery q;
    q.site = site;
    q.station = station;
    q.last = kSummaryLast;
    StationSummary s;
    for (StoredAttempt& a : store.attempts(q)) s.last_.push_back(std::move(a.line));
    if (s.last_.empty()) return s;
    s.day_ = start(s.last_.front())->substr(0, 10);
    q.last = 0;
    q.since = s.day_;
    for (const YieldRow& y : store.yields(q)) {
        if (y.day != s.day_) continue;
        s.passed_ = y.passed;
        s.failed_ = y.failed;
        s.failures_.insert(y.failures.begin(), y.failures.end());
    }
    return s;
}

void StationSummary::add(const AttemptLine& a) {
    const std::string* when = start(a);
    if (!when) return;
    const std::string day = when->substr(0, 10);
    if (day > day_) {  // the station's next day
        day_ = day;
        passed_ = failed_ = 0;
        failures_.clear();
    }
    if (day == day_) {
        const auto outcome = a.columns.find("outcome");
        ++(outcome != a.columns.end() && outcome->second == "passed" ? passed_ : failed_);
        const auto failure = a.columns.find("failure");
        if (failure != a.columns.end() && !failure->second.empty()) ++failures_[failure->second];
    }
    const auto newer = [](const AttemptLine& x, const AttemptLine& y) {
        return std::tie(*start(x), x.id) > std::tie(*start(y), y.id);
    };
    last_.insert(std::upper_bound(last_.begin(), last_.end(), a, newer), a);
    if (last_.size() > kSummaryLast) last_.pop_back();
}

std::string StationSummary::message() const {
    json out{{"day", day_}, {"passed", passed_}, {"failed", failed_}, {"failures", failures_}, {"last", json::array()}};
    for (const AttemptLine& a : last_) out["last"].push_back(json::parse(attemptMessage(a)));
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace iap::fleet
