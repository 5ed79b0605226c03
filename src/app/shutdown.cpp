#include "app/shutdown.h"

#include <chrono>

#include "logging/logging.h"
#include "ui/ui_thread.h"

namespace iap {

bool requestShutdown(ToolContext& ctx, UIEventQueue* events, ThreadPool* pool) {
    if (events) {
        basic_logger->info("UIThreadPutEvent_Exit");
        UIEvent exitEvent;
        exitEvent.eventType = EVENT_EXIT;
        UIThreadPutEvent(*events, exitEvent);
        events->close();
    }

    // Ends the stepping loops, the device searches and the auto-start loop.
    ctx.exitRequested.request();
    ctx.searchCancelled.request();

    bool workersEnded = true;
    if (pool) {
        // 64-bit: readAckTimeout + 1000 does not overflow.
        const int64_t readAckTimeout = ctx.package ? static_cast<int32_t>(ctx.package->settings.readAckTimeout) : 0;
        const auto bound = std::chrono::milliseconds((readAckTimeout > 0 ? readAckTimeout : 0) + 1000);
        workersEnded = pool->shutdown(bound);
    }

    if (workersEnded) {
        if (ctx.bus) {
            ctx.bus->exit();
        }
    } else {
        basic_logger->info("main_shutdown workers still running, HID library left open");
    }
    basic_logger->flush();
    return workersEnded;
}

}  // namespace iap
