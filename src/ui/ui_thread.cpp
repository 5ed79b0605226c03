#include "ui/ui_thread.h"

#include <string>

#include "logging/diagnostics.h"
#include "logging/logging.h"

namespace iap {

void UIThreadPutEvent(UIEventQueue& queue, const UIEvent& event) { queue.put(event); }

void postTips(UIEventQueue& queue, std::string_view text) {
    UIEvent event;
    event.eventType = EVENT_TIPS;
    event.message = std::string(text);
    UIThreadPutEvent(queue, event);
}

void postMsg(UIEventQueue& queue, std::string_view text) {
    UIEvent event;
    event.eventType = EVENT_MSG;
    event.message = std::string(text);
    UIThreadPutEvent(queue, event);
}

bool UIThreadEventHandler(UIEventQueue& queue, DisplayState& display) {
    const UIEvent e = queue.take();
    basic_logger->info("UIThreadEventHandler e.eventType.{}", e.eventType);
    basic_logger->info("UIThreadEventHandler e.message.c_str().{}", e.message.c_str());
    diagnostic("event type: %d %s\n", static_cast<int>(e.eventType), e.message.c_str());

    switch (e.eventType) {
    case EVENT_MSG:
        display.setMsg(e.message.c_str());
        break;
    case EVENT_TIPS:
        display.setTips(e.message.c_str());
        break;
    case EVENT_DEVINFO:
        display.setDeviceInfo(e.vid, e.pid, e.bcdDevice);
        break;
    case EVENT_EXIT:
        return false;
    default:
        break;
    }
    return true;
}

void UIThread(UIEventQueue& queue, DisplayState& display) {
    while (UIThreadEventHandler(queue, display)) {
    }
}

}  // namespace iap
