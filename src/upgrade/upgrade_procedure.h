// One complete upgrade attempt: find and open the device, run the engine to
// its end, tell the user the outcome through UI events, close the device.
#pragma once

#include "upgrade/iap_engine.h"
#include "upgrade/tool_context.h"

namespace iap {

// Runs on a pool worker; the caller holds the busy state.
void IAPProcess(ToolContext& ctx);

// Progress callback of the upgrade: limit = totalSize, position = ackedSize.
void onbusinessOk(ToolContext& ctx, const IAPEngine& engine);

}  // namespace iap
