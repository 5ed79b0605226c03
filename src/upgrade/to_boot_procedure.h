// The switch to bootloader: asks a device that runs its application to
// restart into its IAP bootloader. Runs on the main thread, inside the frame
// in which "ToBoot" was pressed.
#pragma once

#include "upgrade/iap_engine.h"
#include "upgrade/tool_context.h"

namespace iap {

// Holds the busy state (BUSY_TO_BOOT) while it runs, so that no worker task
// starts on the device meanwhile. When a worker task already holds the device
// it does nothing but write a log line, and returns false.
bool ToBootProcess(ToolContext& ctx);

// Progress callback of the switch: limit and position both = totalSize.
void onbusinessToBoot(ToolContext& ctx, const IAPEngine& engine);

}  // namespace iap
