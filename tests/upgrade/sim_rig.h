// A tool context wired to the simulated bus, with a firmware image that the
// simulated bootloader accepts.
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

// The payload bytes of an image: a fixed pseudo-random sequence.
std::vector<uint8_t> makePayload(size_t size);
// header + payload, accepted by the simulated bootloader.
std::vector<uint8_t> makeImage(const std::vector<uint8_t>& payload, uint16_t blockSize);

// The bootloader identity the rig's device ID list names.
inline constexpr uint16_t kVendorId = 0x1234;
inline constexpr uint16_t kBootProductId = 0x5679;
inline constexpr uint16_t kAppProductId = 0x5678;
inline constexpr uint8_t kReportId = 0x01;

struct Rig {
    explicit Rig(size_t payloadSize = 1000, uint16_t blockSize = 256);

    // A bootloader device (or application, for the switch) on the bus.
    std::shared_ptr<sim::SimDevice> attachBootloader();
    std::shared_ptr<sim::SimDevice> attachApplication();

    // Opens the device directly into the connection (for driving the engine).
    void open(const std::shared_ptr<sim::SimDevice>& device);

    // Takes every event the queue holds (nothing else takes them).
    std::vector<UIEvent> drain();
    // "T:text" for EVENT_TIPS, "M:text" for EVENT_MSG, "D:vid pid bcd" for EVENT_DEVINFO.
    std::vector<std::string> drainTexts();

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
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace iap::testing
