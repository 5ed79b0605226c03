#include "upgrade/upgrade_procedure.h"

#include "link/discovery.h"
#include "logging/logging.h"

namespace iap {

void onbusinessOk(Reporter& reporter, const IAPEngine& engine) {
    reporter.setProgress(engine.totalSize, engine.ackedSize);
    basic_logger->info("onbusinessOk progress_limit.{}", engine.totalSize);
    basic_logger->info("onbusinessOk progress_pos.{}", engine.ackedSize);
}

const ProcedureScript& upgradeScript() {
    static const ProcedureScript script = {
        .openDevice = {"IAPProcess Open Device"},
        .openFailed = {"IAPProcess Open Failed"},
        .openSuccess = {"IAPProcess Open Success"},
        .exception = {"IAPProcess e.what() {}"},
        .passed = {"IAPProcess PASS"},
        .deviceError = {"IAPProcess Upgrade error, please try again {}"},
        .timeout = {},
        .refused = {"IAPProcess firmware refused {}"},
        .step = &IAPEngine::upgradeStep,
        .showsDeviceErrors = true,
        .onProgress = &onbusinessOk,
    };
    return script;
}

DeviceOpener searchOpener(ToolContext& ctx) {
    return [&ctx](DeviceRecord& record) {
        SearchDevice(*ctx.bus, ctx.package->deviceIds, static_cast<int32_t>(ctx.package->settings.searchDeviceTimeout),
                     record, ctx.searchCancelled);
        return record.isOpen();
    };
}

AttemptResult IAPProcess(ToolContext& ctx) {
    return runProcedure(upgradeScript(),
                        {ctx.package->firmware, ctx.package->settings, *ctx.connection, *ctx.reporter,
                         ctx.exitRequested},
                        searchOpener(ctx));
}

}  // namespace iap
