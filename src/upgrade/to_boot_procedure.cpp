#include "upgrade/to_boot_procedure.h"

#include "logging/logging.h"
#include "upgrade/busy_claim.h"
#include "upgrade/upgrade_procedure.h"

namespace iap {

void onbusinessToBoot(Reporter& reporter, const IAPEngine& engine) {
    reporter.setProgress(engine.totalSize, engine.totalSize);
    basic_logger->info("onbusinessToBoot progress_limit.{}", engine.totalSize);
    basic_logger->info("onbusinessToBoot progress_pos.{}", engine.totalSize);
}

const ProcedureScript& toBootScript() {
    static const ProcedureScript script = {
        .openDevice = {"start ToBoot Open Device..."},
        .openFailed = {"ToBoot Open Failed...", true},
        .openSuccess = {"ToBoot Open Success...", true},
        .exception = {"e.what()   : {}", true},
        .passed = {},
        .deviceError = {},
        .timeout = {"Timeout error, please try again.", true},
        .refused = {"ToBoot firmware refused {}", true},
        .step = &IAPEngine::toBootStep,
        .showsDeviceErrors = false,
        .onProgress = &onbusinessToBoot,
    };
    return script;
}

std::optional<AttemptResult> ToBootProcess(ToolContext& ctx) {
    BusyClaim claim(ctx.busy, BUSY_TO_BOOT);
    if (!claim) {
        basic_logger->info("ToBoot refused, device busy.{}", ctx.busy.load());
        return std::nullopt;
    }
    return runProcedure(toBootScript(),
                        {ctx.package->firmware, ctx.package->settings, *ctx.connection, *ctx.reporter,
                         ctx.exitRequested},
                        searchOpener(ctx));
}

}  // namespace iap
