#include "upgrade/sim_rig.h"

#include <cstdio>

#include "package/firmware_image.h"

namespace iap::testing {

Rig::Rig(size_t payloadSize, uint16_t blockSize) : payload(payloadSize) {
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
    ctx.state = &state;
    ctx.bus = &bus;
    ctx.events = &events;
    ctx.connection = &connection;
}

std::shared_ptr<sim::SimDevice> Rig::attach(bool bootloader) {
    sim::BootloaderConfig config;
    config.mode = bootloader ? sim::Mode::Bootloader : sim::Mode::Application;
    auto device = bus.attach(config);
    device->setTimeScale(0.0);
    return device;
}

void Rig::open(const std::shared_ptr<sim::SimDevice>& device) {
    connection.record.handle = bus.openPath(device->path());
    connection.record.reportId = kReportId;
    connection.record.usagePage = 0xFF00;
}

std::vector<std::string> Rig::drainTexts() {
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

std::vector<uint8_t> Rig::flashOf(sim::SimDevice& device) const {
    std::vector<uint8_t> flash = device.flash();
    flash.resize(payload.size());
    return flash;
}

}  // namespace iap::testing
