// A tool context wired to the simulated bus, with a firmware image that the
// simulated bootloader accepts, and the test helpers shared by the groups.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/connection.h"
#include "sim/sim_bus.h"
#include "ui/ui_event_queue.h"
#include "upgrade/tool_context.h"

namespace iap::testing {

inline constexpr uint8_t kReportId = 0x01;

struct Rig {
    // Image of a pseudo-random payload; device IDs 1234:5679 (bootloader)
    // and 1234:5678 (application); retryNum 3; time-outs of 200 ms.
    explicit Rig(size_t payloadSize = 1000, uint16_t blockSize = 256);

    // A device on the bus, answering at once, in its bootloader or application.
    std::shared_ptr<sim::SimDevice> attach(bool bootloader = true);
    // Opens the device directly into the connection (for driving the engine).
    void open(const std::shared_ptr<sim::SimDevice>& device);
    // Every queued event: "T:text" tips, "M:text" message, "D:vid pid bcd".
    std::vector<std::string> drainTexts();
    // The device's flash cut to the payload's length.
    std::vector<uint8_t> flashOf(sim::SimDevice& device) const;

    std::vector<uint8_t> payload;
    AppState state;
    sim::SimBus bus;
    UIEventQueue events;
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

}  // namespace iap::testing
