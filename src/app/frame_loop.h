// The paced frame loop of the main window.
#pragma once

#include <chrono>
#include <cstdint>

#include "app/shell.h"

namespace iap {

// Frame pacing: each frame starts no earlier than one budget after the start
// of the previous one, measured on the pacing clock from the moment the
// previous frame went on, after its own sleep. The sleep itself is on the
// monotonic clock. A clock that goes back (the wall clock on Windows, set by
// hand or by time sync) costs at most one budget of sleep, never more.
class FramePacer {
public:
    explicit FramePacer(std::chrono::microseconds budget, PacingClock clock = steadyMicros)
        : budget_(budget), clock_(clock) {}
    // Sleeps as long as needed; returns how long it slept.
    std::chrono::microseconds pace();

private:
    std::chrono::microseconds budget_;
    PacingClock clock_;
    bool first_ = true;
    int64_t lastFrameTime_ = 0;
};

inline constexpr std::chrono::microseconds kFrameBudget{16666};

// Pumps messages and draws frames until the window is closed.
void runFrameLoop(Shell& shell);

}  // namespace iap
