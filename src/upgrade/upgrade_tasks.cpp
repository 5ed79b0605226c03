#include "upgrade/upgrade_tasks.h"

#include <chrono>

#include "logging/logging.h"
#include "upgrade/busy_claim.h"
#include "upgrade/upgrade_procedure.h"

namespace iap {
namespace {

// Sleeps until the deadline on the monotonic clock, waking at once when the
// application shuts down, so that a join at exit never waits for the pause.
void pauseUntil(std::chrono::steady_clock::time_point deadline, const StopSignal& exitRequested) {
    for (auto now = std::chrono::steady_clock::now(); now < deadline; now = std::chrono::steady_clock::now()) {
        if (exitRequested.waitFor(deadline - now)) return;
    }
}

}  // namespace

void recordAttempt(ToolContext& ctx, std::string_view procedure, const AttemptResult& result) {
    if (!ctx.record) return;
    const std::string tool = ctx.package->executablePath.filename().string();
    ctx.record->append({procedure, result, ctx.package->firmware, tool});
}

void IAPThread(ToolContext& ctx) {
    BusyClaim claim(ctx.busy, BUSY_UPGRADE);
    if (!claim) {
        return;
    }
    basic_logger->info("IAPThread");
    recordAttempt(ctx, "upgrade", IAPProcess(ctx));
}

void AutoIAPThread(ToolContext& ctx) {
    basic_logger->info("AutoIAPThread");
    BusyClaim claim(ctx.busy, BUSY_AUTO_WAITING);
    if (!claim) {
        return;
    }
    while (ctx.autoStart.load() && !ctx.exitRequested.requested()) {
        ctx.busy.store(BUSY_AUTO_ATTEMPT);
        recordAttempt(ctx, "upgrade", IAPProcess(ctx));
        ctx.busy.store(BUSY_AUTO_WAITING);
        pauseUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(ctx.autoStartPauseMs),
                   ctx.exitRequested);
    }
}

}  // namespace iap
