// Orderly shutdown of everything that runs beside the window.
#pragma once

#include "ui/thread_pool.h"
#include "ui/ui_event_queue.h"
#include "upgrade/tool_context.h"

namespace iap {

// Called by the shell once its frame loop has ended (instead of releasing the
// HID library itself):
//  1. logs "UIThreadPutEvent_Exit" and puts EVENT_EXIT; then closes the
//     queue, so that events posted from now on are dropped instead of waiting
//     for the UI thread that has gone;
//  2. sets exitRequested and searchCancelled: stepping loops, device searches
//     and the auto-start loop end at their next check;
//  3. stops the pool and waits for its workers, at most readAckTimeout plus
//     one second (the longest single blocking device call plus slack);
//  4. only when every worker has ended, releases the HID library (bus exit).
// Returns false when a worker was still running at the bound: the HID library
// is then left alone, and the pool's destructor will join that worker.
// Either of events and pool may be null (nothing to stop there).
bool requestShutdown(ToolContext& ctx, UIEventQueue* events, ThreadPool* pool);

}  // namespace iap
