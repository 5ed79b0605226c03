#include "ui/event_reporter.h"

#include "ui/ui_thread.h"

namespace iap {

void EventReporter::postTips(std::string_view text) { iap::postTips(queue_, text); }

void EventReporter::postMsg(std::string_view text) { iap::postMsg(queue_, text); }

void EventReporter::postDeviceInfo(uint16_t vid, uint16_t pid, uint16_t bcdDevice) {
    UIEvent event;
    event.eventType = EVENT_DEVINFO;
    event.vid = vid;
    event.pid = pid;
    event.bcdDevice = bcdDevice;
    UIThreadPutEvent(queue_, event);
}

void EventReporter::setProgress(uint32_t limit, uint32_t pos) {
    progress_limit.store(limit, std::memory_order_relaxed);
    progress_pos.store(pos, std::memory_order_relaxed);
}

}  // namespace iap
