// A tool context on the real bus (hidapi + libusb), whose devices are the
// testbed's, with a firmware image that the simulated bootloader accepts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fake_hidraw.h"
#include "link/connection.h"
#include "link/device_bus.h"
#include "package/app_state.h"
#include "sim/sim_bootloader.h"
#include "ui/ui_event_queue.h"
#include "upgrade/tool_context.h"

namespace iap::umock {

inline constexpr uint16_t kVendorId = 0x1234;
inline constexpr uint16_t kAppProductId = 0x5678;
inline constexpr uint16_t kBootProductId = 0x5679;
inline constexpr uint8_t kReportId = 0x01;

// A fixed pseudo-random payload.
std::vector<uint8_t> makePayload(size_t size);

// The model's configuration for the rig's device ID list.
sim::BootloaderConfig deviceConfig(sim::Mode mode, uint16_t bcdDevice = 0x0100);

struct RealBusRig {
    explicit RealBusRig(size_t payloadSize = 20000, uint16_t blockSize = 256,
                        const std::string& swVersion = "V2.3.4");
    ~RealBusRig();

    // "T:text" for EVENT_TIPS, "M:text" for EVENT_MSG, "D:vid pid bcd" for
    // EVENT_DEVINFO; takes every pending event.
    std::vector<std::string> drainTexts();

    std::vector<uint8_t> payload;
    AppState state;
    std::unique_ptr<DeviceBus> bus;
    UIEventQueue events;
    DeviceConnection connection;
    ToolContext ctx;
};

// Descriptor variants: the vendor descriptor with another usage page, or
// without any Report ID item.
std::vector<uint8_t> descriptorWithUsagePage(uint16_t usagePage, uint8_t reportId);
std::vector<uint8_t> descriptorWithoutReportId();

// Descriptors of this process that are open on the node's PTY, not counting
// the node's own end.
int clientFdsOn(const FakeHidraw& node);

}  // namespace iap::umock
