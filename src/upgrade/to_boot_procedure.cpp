#include "upgrade/to_boot_procedure.h"

#include <exception>
#include <optional>

#include "app/logging.h"
#include "link/packets.h"
#include "upgrade/busy_claim.h"
#include "upgrade/procedure_support.h"

namespace iap {

void onbusinessToBoot(ToolContext& ctx, const IAPEngine& engine) {
    ctx.progress_limit.store(engine.totalSize, std::memory_order_relaxed);
    ctx.progress_pos.store(engine.totalSize, std::memory_order_relaxed);
    basic_logger->info("onbusinessToBoot progress_limit.{}", engine.totalSize);
    basic_logger->info("onbusinessToBoot progress_pos.{}", engine.totalSize);
}

bool ToBootProcess(ToolContext& ctx) {
    BusyClaim claim(ctx.busy, BUSY_TO_BOOT);
    if (!claim) {
        basic_logger->info("ToBoot refused, device busy.{}", ctx.busy.load());
        return false;
    }

    const std::string refusal = firmwareRefusal(ctx);
    if (!refusal.empty()) {
        basic_logger->info("ToBoot firmware refused {}", refusal);
        postTips(ctx, refusal);
        postMsg(ctx, refusal);
        return true;
    }

    postTips(ctx, "Open Device...");
    basic_logger->info("start ToBoot Open Device...");
    if (!openDevice(ctx)) {
        basic_logger->info("ToBoot Open Failed...");
        postTips(ctx, "Open Failed!");
        return true;
    }
    DeviceCloser closer(ctx.connection->record);
    basic_logger->info("ToBoot Open Success...");
    postTips(ctx, "Open Success! BOOT");

    std::optional<IAPEngine> engine;
    try {
        buildEngine(engine, ctx, [&ctx](IAPEngine& e) { onbusinessToBoot(ctx, e); });
        while (!ctx.exitRequested.load()) {
            if (!engine->toBootStep()) {
                break;
            }
        }
    } catch (const std::exception& e) {
        const std::string text = e.what();
        basic_logger->info("e.what()   : {}", text);
        postTips(ctx, text);
        postMsg(ctx, text);
        return true;
    }

    if (engine->state == IAPEngine::STATE_PASSED) {
        postTips(ctx, "PASS");
        postMsg(ctx, "PASS");
    } else {
        basic_logger->info("Timeout error, please try again.");
        postTips(ctx, "Timeout error, please try again.");
        postMsg(ctx, "Timeout error, please try again.");
    }
    return true;
}

}  // namespace iap
