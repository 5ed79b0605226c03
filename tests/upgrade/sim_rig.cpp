#include "upgrade/sim_rig.h"

#include <cstdio>

#include "package/firmware_image.h"

namespace iap::testing {

std::vector<uint8_t> makePayload(size_t size) {
    std::vector<uint8_t> payload(size);
    uint32_t x = 0x12345678;
    for (uint8_t& b : payload) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return payload;
}

std::vector<uint8_t> makeImage(const std::vector<uint8_t>& payload, uint16_t blockSize) {
    ImageHeaderFields fields;
    fields.blockSize = blockSize;
    return buildFirmwareImage(fields, payload);
}

Rig::Rig(size_t payloadSize, uint16_t blockSize) : payload(makePayload(payloadSize)) {
    state.firmware = makeImage(payload, blockSize);
    DeviceIdEntry entry;
    entry.vendorId = kVendorId;
    entry.productId = kBootProductId;
    entry.reportId = kReportId;
    state.deviceIds.push_back(entry);
    entry.productId = kAppProductId;
    state.deviceIds.push_back(entry);
    state.settings.retryNum = 3;
    state.settings.rebootDelay = 0;
    state.settings.switchDelay = 500;
    state.settings.searchDeviceTimeout = 200;
    state.settings.readAckTimeout = 200;

    ctx.state = &state;
    ctx.bus = &bus;
    ctx.events = &events;
    ctx.connection = &connection;
}

std::shared_ptr<sim::SimDevice> Rig::attachBootloader() {
    sim::BootloaderConfig config;
    config.mode = sim::Mode::Bootloader;
    auto device = bus.attach(config);
    device->setTimeScale(0.0);
    return device;
}

std::shared_ptr<sim::SimDevice> Rig::attachApplication() {
    sim::BootloaderConfig config;
    config.mode = sim::Mode::Application;
    auto device = bus.attach(config);
    device->setTimeScale(0.0);
    return device;
}

void Rig::open(const std::shared_ptr<sim::SimDevice>& device) {
    connection.record.handle = bus.openPath(device->path());
    connection.record.reportId = kReportId;
    connection.record.usagePage = 0xFF00;
}

std::vector<UIEvent> Rig::drain() {
    std::vector<UIEvent> out;
    while (events.pending() > 0) {
        out.push_back(events.take());
    }
    return out;
}

std::vector<std::string> Rig::drainTexts() {
    std::vector<std::string> out;
    for (const UIEvent& e : drain()) {
        if (e.eventType == EVENT_TIPS) {
            out.push_back("T:" + e.message);
        } else if (e.eventType == EVENT_MSG) {
            out.push_back("M:" + e.message);
        } else if (e.eventType == EVENT_DEVINFO) {
            char text[32];
            std::snprintf(text, sizeof text, "D:%04X %04X %04X", e.vid, e.pid, e.bcdDevice);
            out.push_back(text);
        } else {
            out.push_back("?" + std::to_string(e.eventType));
        }
    }
    return out;
}

}  // namespace iap::testing
