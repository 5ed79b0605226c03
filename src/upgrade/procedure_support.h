// Pieces shared by the upgrade and switch-to-boot procedures.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/device_record.h"
#include "upgrade/iap_engine.h"
#include "upgrade/tool_context.h"

namespace iap {

// Closes the device record when the procedure leaves, whatever the way out.
class DeviceCloser {
public:
    explicit DeviceCloser(DeviceRecord& record) : record_(record) {}
    ~DeviceCloser() { record_.close(); }
    DeviceCloser(const DeviceCloser&) = delete;
    DeviceCloser& operator=(const DeviceCloser&) = delete;

private:
    DeviceRecord& record_;
};

// EVENT_TIPS / EVENT_MSG into the context's queue.
void postTips(ToolContext& ctx, std::string_view text);
void postMsg(ToolContext& ctx, std::string_view text);

// Why the package's firmware cannot be run by the engine; empty when it can.
std::string firmwareRefusal(const ToolContext& ctx);

// Looks for the device with the package's ID list and time-out; true when the
// connection's record now holds an open device.
bool openDevice(ToolContext& ctx);

// Builds the engine on the opened device with a copy of the package's
// firmware, its block size (image bytes 66 and 67) and the settings.
void buildEngine(std::optional<IAPEngine>& engine, ToolContext& ctx,
                 IAPEngine::ProgressCallback onProgress);

}  // namespace iap
