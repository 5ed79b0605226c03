// What the station's files share: the clock, the procedures' names, a
// port's events and the times that follow from the package's switchDelay.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>

#include "station/station.h"

namespace iap::station {

using Clock = std::chrono::steady_clock;

inline constexpr const char* kUpgrade = "upgrade";
inline constexpr const char* kToBoot = "to-boot";

inline Event event(EventKind kind, const std::string& port) {
    Event e;
    e.kind = kind;
    e.port = port;
    return e;
}

inline void emitState(const Station& st, const std::string& port, const char* state) {
    Event e = event(EventKind::State, port);
    e.text = state;
    st.output.emit(e);
}

inline std::chrono::milliseconds switchDelayOf(const Station& st) {
    return std::chrono::milliseconds(st.tool.settings.switchDelay & 0xFFFF);
}

// How long a board that passed may take to restart into its new firmware.
inline std::chrono::milliseconds restartTimeOf(const Station& st) { return switchDelayOf(st) + st.timing.returnMargin; }

// True when the station works on that port (every port when none was given).
inline bool selected(const Station& st, const std::string& key) {
    return st.ports.empty() || std::find(st.ports.begin(), st.ports.end(), key) != st.ports.end();
}

}  // namespace iap::station
