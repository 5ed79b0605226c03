// The switch to bootloader: asks a device that runs its application to
// restart into its IAP bootloader. Runs on the main thread, inside the frame
// in which "ToBoot" was pressed.
#pragma once

#include <optional>

#include "upgrade/iap_engine.h"
#include "upgrade/procedure.h"
#include "upgrade/reporter.h"
#include "upgrade/tool_context.h"

namespace iap {

// Holds the busy state (BUSY_TO_BOOT) while it runs, so that no worker task
// starts on the device meanwhile. When a worker task already holds the device
// it does nothing but write a log line, and returns no result.
std::optional<AttemptResult> ToBootProcess(ToolContext& ctx);

// Progress callback of the switch: limit and position both = totalSize.
void onbusinessToBoot(Reporter& reporter, const IAPEngine& engine);

// The switch's log lines and engine step, for runProcedure.
const ProcedureScript& toBootScript();

}  // namespace iap
