#include "upgrade/procedure_support.h"

#include <utility>

#include "link/connection.h"
#include "link/discovery.h"
#include "link/packets.h"
#include "ui/ui_thread.h"
#include "upgrade/iap_engine.h"

namespace iap {

void postTips(ToolContext& ctx, std::string_view text) { postTips(*ctx.events, text); }

void postMsg(ToolContext& ctx, std::string_view text) { postMsg(*ctx.events, text); }

std::string firmwareRefusal(const ToolContext& ctx) {
    const std::vector<uint8_t>& firmware = ctx.state->firmware;
    return IAPEngine::checkImage(firmware, imageBlockSize(firmware));
}

bool openDevice(ToolContext& ctx) {
    DeviceRecord& record = ctx.connection->record;
    SearchDevice(*ctx.bus, ctx.state->deviceIds, ctx.state->settings.searchDeviceTimeout, record,
                 ctx.searchCancelled);
    return record.isOpen();
}

void buildEngine(std::optional<IAPEngine>& engine, ToolContext& ctx,
                 IAPEngine::ProgressCallback onProgress) {
    const AppState& state = *ctx.state;
    engine.emplace(*ctx.connection, state.firmware, imageBlockSize(state.firmware),
                   state.settings.retryNum, state.settings.readAckTimeout,
                   static_cast<uint16_t>(state.settings.switchDelay & 0xFFFF), std::move(onProgress));
}

}  // namespace iap
