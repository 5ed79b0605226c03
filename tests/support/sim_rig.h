// A tool context wired to the simulated bus, with a firmware image that the
// simulated bootloader accepts, and the test helpers shared by the groups.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bytes/firmware_image.h"
#include "link/connection.h"
#include "package/app_state.h"
#include "sim/sim_bus.h"
#include "ui/event_reporter.h"
#include "ui/ui_event_queue.h"
#include "upgrade/tool_context.h"

namespace iap::test {

inline constexpr uint8_t kReportId = 0x01;

struct Rig {
    // Image of a pseudo-random payload; device IDs 1234:5679 (bootloader)
    // and 1234:5678 (application); retryNum 3; time-outs of 200 ms.
    explicit Rig(size_t payloadSize = 1000, uint16_t blockSize = 256) : payload(payloadSize) {
        uint32_t x = 0x12345678;
        for (uint8_t& b : payload) {
            x = x * 1103515245u + 12345u;
            b = static_cast<uint8_t>(x >> 16);
        }
        ImageHeaderFields fields;
        fields.blockSize = blockSize;
        state.firmware = buildFirmwareImage(fields, payload);
        state.deviceIds.push_back(DeviceIdEntry{.reportId = kReportId, .productId = 0x5679, .vendorId = 0x1234});
        state.deviceIds.push_back(DeviceIdEntry{.reportId = kReportId, .productId = 0x5678, .vendorId = 0x1234});
        state.settings.retryNum = 3;
        state.settings.switchDelay = 500;
        state.settings.searchDeviceTimeout = 200;
        state.settings.readAckTimeout = 200;
        ctx.package = &state;
        ctx.bus = &bus;
        ctx.reporter = &reporter;
        ctx.connection = &connection;
    }

    // A device on the bus, answering at once, in its bootloader or application.
    std::shared_ptr<sim::SimDevice> attach(bool bootloader = true) {
        auto device = bus.attach({.mode = bootloader ? sim::Mode::Bootloader : sim::Mode::Application});
        device->setTimeScale(0.0);
        return device;
    }
    // Opens the device directly into the connection (for driving the engine).
    void open(const std::shared_ptr<sim::SimDevice>& device) {
        connection.record.handle = bus.openPath(device->path());
        connection.record.reportId = kReportId;
        connection.record.usagePage = 0xFF00;
    }
    // Every queued event: "T:text" tips, "M:text" message, "D:vid pid bcd".
    std::vector<std::string> drainTexts() {
        std::vector<std::string> out;
        while (events.pending() > 0) {
            const UIEvent e = events.take();
            char text[32];
            std::snprintf(text, sizeof text, "D:%04X %04X %04X", e.vid, e.pid, e.bcdDevice);
            out.push_back(e.eventType == EVENT_TIPS  ? "T:" + e.message
                          : e.eventType == EVENT_MSG ? "M:" + e.message
                                                     : std::string(text));
        }
        return out;
    }
    // The device's flash cut to the payload's length.
    std::vector<uint8_t> flashOf(sim::SimDevice& device) const {
        std::vector<uint8_t> flash = device.flash();
        flash.resize(payload.size());
        return flash;
    }

    std::vector<uint8_t> payload;
    AppState state;
    sim::SimBus bus;
    UIEventQueue events;
    EventReporter reporter{events};
    DeviceConnection connection;
    ToolContext ctx;
};

// Polls pred every millisecond until it holds or the limit passes.
template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace iap::test
