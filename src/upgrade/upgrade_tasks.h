// The worker tasks that upgrade: IAPThread once per START, AutoIAPThread
// again and again while auto-start is on. Submit them to the pool:
//   pool.enqueue([&ctx] { IAPThread(ctx); });
#pragma once

#include <string_view>

#include "upgrade/procedure.h"
#include "upgrade/tool_context.h"

namespace iap {

// Appends the attempt to the upgrade record (when there is one), with the
// package's firmware and the tool file's name. Call it from a worker, never
// from the frame.
void recordAttempt(ToolContext& ctx, std::string_view procedure, const AttemptResult& result);

// Claims the busy state with BUSY_UPGRADE (ends at once, silently, when that
// fails), runs IAPProcess and records it, returns the state to idle.
void IAPThread(ToolContext& ctx);

// Logs "AutoIAPThread", claims the busy state with BUSY_AUTO_WAITING, then
// while the auto-start flag is set and no exit was requested: BUSY_AUTO_ATTEMPT,
// IAPProcess, BUSY_AUTO_WAITING, a pause of autoStartPauseMs (cut short by an
// exit request). Returns the state to idle.
void AutoIAPThread(ToolContext& ctx);

}  // namespace iap
