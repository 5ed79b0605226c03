// The paced frame loop of the main window.
#pragma once

#include <chrono>

#include "app/shell.h"

namespace iap {

// Frame pacing: each frame starts no earlier than one budget after the start
// of the previous one (measured on the monotonic clock from the moment the
// previous frame went on, after its own sleep).
class FramePacer {
public:
    explicit FramePacer(std::chrono::microseconds budget) : budget_(budget) {}
    // Sleeps as long as needed; returns how long it slept.
    std::chrono::microseconds pace();

private:
    std::chrono::microseconds budget_;
    bool first_ = true;
    std::chrono::steady_clock::time_point lastFrameTime_;
};

inline constexpr std::chrono::microseconds kFrameBudget{16666};

// Pumps messages and draws frames until the window is closed.
void runFrameLoop(Shell& shell);

}  // namespace iap
