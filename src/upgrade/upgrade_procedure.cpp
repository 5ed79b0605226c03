#include "upgrade/upgrade_procedure.h"

#include <cstdio>
#include <exception>
#include <optional>

#include "app/logging.h"
#include "link/packets.h"
#include "link/status_codes.h"
#include "upgrade/procedure_support.h"

namespace iap {

void onbusinessOk(ToolContext& ctx, const IAPEngine& engine) {
    ctx.progress_limit.store(engine.totalSize, std::memory_order_relaxed);
    ctx.progress_pos.store(engine.ackedSize, std::memory_order_relaxed);
    basic_logger->info("onbusinessOk progress_limit.{}", engine.totalSize);
    basic_logger->info("onbusinessOk progress_pos.{}", engine.ackedSize);
}

void IAPProcess(ToolContext& ctx) {

    // A firmware image the engine cannot run is reported before any device
    // is looked for: no device could be upgraded with it.
    const std::string refusal = firmwareRefusal(ctx);
    if (!refusal.empty()) {
        postTips(ctx, refusal);
        postMsg(ctx, refusal);
        basic_logger->info("IAPProcess firmware refused {}", refusal);
        return;
    }

    postTips(ctx, "Open Device...");
    basic_logger->info("IAPProcess Open Device");
    if (!openDevice(ctx)) {
        postTips(ctx, "Open Failed!");
        basic_logger->info("IAPProcess Open Failed");
        return;
    }
    DeviceCloser closer(ctx.connection->record);
    postTips(ctx, "Open Success! BOOT");
    basic_logger->info("IAPProcess Open Success");

    std::optional<IAPEngine> engine;
    try {
        buildEngine(engine, ctx, [&ctx](IAPEngine& e) { onbusinessOk(ctx, e); });
        while (!ctx.exitRequested.load()) {
            if (!engine->upgradeStep()) {
                break;
            }
        }
    } catch (const std::exception& e) {
        const std::string text = e.what();
        postTips(ctx, text);
        postMsg(ctx, text);
        basic_logger->info("IAPProcess e.what() {}", text);
        return;
    }

    if (engine->state == IAPEngine::STATE_PASSED) {
        postTips(ctx, "PASS");
        postMsg(ctx, "PASS");
        basic_logger->info("IAPProcess PASS");
    } else if (engine->errorFlag == 1) {
        char text[128] = {};
        const unsigned code = static_cast<unsigned>(engine->deviceStatus);
        std::snprintf(text, sizeof text, "Upgrade error, please try again.\nError code:0x%02X\n%s", code,
                      statusMessage(code).c_str());
        postTips(ctx, text);
        postMsg(ctx, text);
        basic_logger->info("IAPProcess Upgrade error, please try again {}", text);
    } else {
        postTips(ctx, "Timeout error, please try again.");
        postMsg(ctx, "Timeout error, please try again.");
    }
}

}  // namespace iap
