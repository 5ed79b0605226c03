// One complete upgrade attempt: find and open the device, run the engine to
// its end, tell the user the outcome, close the device.
#pragma once

#include "upgrade/iap_engine.h"
#include "upgrade/procedure.h"
#include "upgrade/reporter.h"
#include "upgrade/tool_context.h"

namespace iap {

// Runs on a pool worker; the caller holds the busy state.
AttemptResult IAPProcess(ToolContext& ctx);

// Progress callback of the upgrade: limit = totalSize, position = ackedSize.
void onbusinessOk(Reporter& reporter, const IAPEngine& engine);

// The upgrade's log lines and engine step, for runProcedure.
const ProcedureScript& upgradeScript();

// The window's way of opening a device: discovery with the package's device
// ID list and searchDeviceTimeout, until found or cancelled at shutdown.
DeviceOpener searchOpener(ToolContext& ctx);

}  // namespace iap
