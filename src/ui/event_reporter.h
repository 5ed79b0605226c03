// The window's reporter: texts go to the UI thread as UI events, progress to
// the two values the progress bar draws every frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "ui/ui_event_queue.h"
#include "upgrade/reporter.h"

namespace iap {

class EventReporter : public Reporter {
public:
    explicit EventReporter(UIEventQueue& queue) : queue_(queue) {}

    void postTips(std::string_view text) override;      // EVENT_TIPS
    void postMsg(std::string_view text) override;       // EVENT_MSG
    void postDeviceInfo(uint16_t vid, uint16_t pid, uint16_t bcdDevice) override;  // EVENT_DEVINFO
    void setProgress(uint32_t limit, uint32_t pos) override;

    // Written by the procedures' progress callbacks, read by the frame; both
    // start at 100, so the bar reads 100% until the first callback.
    std::atomic<uint32_t> progress_limit{100};
    std::atomic<uint32_t> progress_pos{100};

private:
    UIEventQueue& queue_;
};

}  // namespace iap
