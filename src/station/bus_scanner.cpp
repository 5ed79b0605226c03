#include "station/bus_scanner.h"

#include <algorithm>
#include <set>

#include "link/device_list.h"
#include "logging/logging.h"
#include "upgrade/upgrade_record.h"

namespace iap::station {

Scanner::Look Scanner::look(const Station& st, const std::vector<HidDeviceInfo>& candidates,
                            const Followers& followers, const Wanted& wanted) {
    Look out;
    const Clock::time_point now = Clock::now();
    std::erase_if(paths_, [&](const auto& seen) {
        return std::none_of(candidates.begin(), candidates.end(),
                            [&](const HidDeviceInfo& i) { return i.path == seen.first; });
    });
    std::set<std::string> handled;
    for (const HidDeviceInfo& info : candidates) {
        const std::string key = followers.keyOf(info);
        out.present.try_emplace(key, info);
        if (handled.count(key) || followers.holds(info) || !wanted(key, info)) continue;
        Seen& seen = paths_.try_emplace(info.path, Seen{now}).first->second;
        if (seen.judged) continue;
        DeviceRecord record;
        OpenProblem problem;
        const DeviceCheck check = openOrSayWhy(st.bus, info, st.tool.deviceIds, record, problem);
        if (check == DeviceCheck::Chosen) {
            out.chosen.emplace_back(key, std::move(record));
            handled.insert(key);
            continue;
        }
        if (now - seen.first < st.timing.openGrace) {
            out.pending = true;
            continue;
        }
        seen.judged = true;
        if (check == DeviceCheck::OpenFailed) {
            out.problems.push_back({key, info, problem});
            handled.insert(key);
        }
    }
    // A port whose device was chosen has no problem to tell.
    std::erase_if(out.problems, [&](const Problem& p) {
        return std::any_of(out.chosen.begin(), out.chosen.end(), [&](const auto& c) { return c.first == p.key; });
    });
    return out;
}

void tellProblem(const Station& st, const Scanner::Problem& p) {
    Event e = event(EventKind::Result, p.key);
    e.procedure = st.toBoot ? kToBoot : kUpgrade;
    e.outcome = outcomeName(Outcome::OpenFailed);
    e.text = "Open Failed!";
    e.final = true;
    e.device = p.info;
    e.problem = p.problem;
    e.failure = failureName(Failure::OpenFailed);
    basic_logger->info("usb-iap-flash {} {} cannot be opened: {}", p.key, p.info.path, p.problem.reason);
    if (st.record) {
        AttemptResult attempt;
        attempt.outcome = Outcome::OpenFailed;
        attempt.failure = Failure::OpenFailed;
        attempt.text = e.text;
        attempt.start = std::chrono::system_clock::now();
        st.record->append({e.procedure, attempt, st.tool.firmware, st.toolName, false, p.key});
    }
    st.output.emit(e);
}

}  // namespace iap::station
