#include "real_bus_rig.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "fake_hidraw.h"
#include "link/real_bus.h"
#include "package/firmware_image.h"

namespace iap::umock {

std::vector<uint8_t> makePayload(size_t size) {
    std::vector<uint8_t> payload(size);
    uint32_t x = 0x2468ACE1u;
    for (uint8_t& b : payload) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return payload;
}

sim::BootloaderConfig deviceConfig(sim::Mode mode, uint16_t bcdDevice) {
    sim::BootloaderConfig config;
    config.reportId = kReportId;
    config.vendorId = kVendorId;
    config.appProductId = kAppProductId;
    config.bootProductId = kBootProductId;
    config.bcdDevice = bcdDevice;
    config.mode = mode;
    return config;
}

RealBusRig::RealBusRig(size_t payloadSize, uint16_t blockSize, const std::string& swVersion)
    : payload(makePayload(payloadSize)), bus(makeRealBus()) {
    ImageHeaderFields fields;
    fields.blockSize = blockSize;
    fields.swVersion = swVersion;
    state.firmware = buildFirmwareImage(fields, payload);
    DeviceIdEntry entry;
    entry.vendorId = kVendorId;
    entry.reportId = kReportId;
    entry.productId = kBootProductId;
    state.deviceIds.push_back(entry);
    entry.productId = kAppProductId;
    state.deviceIds.push_back(entry);
    state.settings.retryNum = 3;
    state.settings.switchDelay = 500;
    state.settings.searchDeviceTimeout = 3000;
    state.settings.readAckTimeout = 300;
    bus->init();
    ctx.state = &state;
    ctx.bus = bus.get();
    ctx.events = &events;
    ctx.connection = &connection;
}

RealBusRig::~RealBusRig() {
    connection.record.close();
    bus->exit();
}

std::vector<std::string> RealBusRig::drainTexts() {
    std::vector<std::string> out;
    while (events.pending() > 0) {
        const UIEvent e = events.take();
        if (e.eventType == EVENT_TIPS) {
            out.push_back("T:" + e.message);
        } else if (e.eventType == EVENT_MSG) {
            out.push_back("M:" + e.message);
        } else if (e.eventType == EVENT_DEVINFO) {
            char text[32];
            std::snprintf(text, sizeof text, "D:%04X %04X %04X", e.vid, e.pid, e.bcdDevice);
            out.push_back(text);
        }
    }
    return out;
}

std::vector<uint8_t> descriptorWithUsagePage(uint16_t usagePage, uint8_t reportId) {
    std::vector<uint8_t> d = sim::vendorDescriptor(reportId);
    d[1] = static_cast<uint8_t>(usagePage & 0xFF);
    d[2] = static_cast<uint8_t>(usagePage >> 8);
    return d;
}

std::vector<uint8_t> descriptorWithoutReportId() {
    std::vector<uint8_t> d = sim::vendorDescriptor(kReportId);
    // Drop the two bytes of the Report ID item (0x85 id).
    for (size_t i = 0; i + 1 < d.size(); ++i) {
        if (d[i] == 0x85) {
            d.erase(d.begin() + static_cast<long>(i), d.begin() + static_cast<long>(i) + 2);
            break;
        }
    }
    return d;
}

int clientFdsOn(const FakeHidraw& node) {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        struct stat st {};
        if (entry->d_name[0] != '.' && fd != ::dirfd(dir) && ::fstat(fd, &st) == 0 &&
            S_ISCHR(st.st_mode) && st.st_rdev == node.rdev()) {
            ++count;
        }
    }
    ::closedir(dir);
    return node.isGone() ? count : count - 1;  // the node keeps one end while plugged
}

}  // namespace iap::umock
