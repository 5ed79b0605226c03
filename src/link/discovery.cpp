#include "link/discovery.h"

#include <chrono>
#include <thread>

#include "bytes/ascii.h"
#include "link/descriptor.h"
#include "logging/diagnostics.h"
#include "logging/logging.h"

namespace iap {
namespace {

constexpr size_t kDescriptorBufferSize = 4096;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

uint16_t hexAfter(const std::string& path, size_t start) {
    uint16_t value = 0;
    for (size_t i = start; i < start + 4; ++i) {
        const int digit = i < path.size() ? hexDigit(path[i]) : 0;
        value = static_cast<uint16_t>((value << 4) | digit);
    }
    return value;
}

}  // namespace

bool pathVidPid(const std::string& path, uint16_t& vid, uint16_t& pid) {
    // Windows gives "\\?\hid#vid_1234&pid_5679#...", in lower case.
    const size_t v = findNoCase(path, "VID_");
    const size_t p = findNoCase(path, "PID_");
    if (v == std::string::npos || p == std::string::npos) {
        return false;
    }
    vid = hexAfter(path, v + 4);
    pid = hexAfter(path, p + 4);
    return true;
}

bool deviceVidPid(const HidDeviceInfo& device, uint16_t& vid, uint16_t& pid) {
    if (pathVidPid(device.path, vid, pid)) {
        return true;
    }
    if (findNoCase(device.path, "VID_") != std::string::npos ||
        findNoCase(device.path, "PID_") != std::string::npos) {
        return false;  // a path with one token and not the other
    }
    vid = device.vendorId;
    pid = device.productId;
    return true;
}

DeviceCheck checkDevice(DeviceBus& bus, const HidDeviceInfo& device, uint16_t vid, uint16_t pid,
                        uint8_t reportId, DeviceRecord& record) {
    uint16_t deviceVid = 0;
    uint16_t devicePid = 0;
    if (!deviceVidPid(device, deviceVid, devicePid) || deviceVid != vid || devicePid != pid) {
        return DeviceCheck::OtherIds;
    }
    std::unique_ptr<HidDevice> handle = bus.openPath(device.path);
    if (!handle) {
        return DeviceCheck::OpenFailed;
    }
    // From here on, leaving without choosing the device closes it (the
    // handle goes out of scope).
    std::vector<uint8_t> descriptor(kDescriptorBufferSize, 0);
    const int size = handle->getReportDescriptor(descriptor.data(), descriptor.size());
    if (size <= 0) {
        return DeviceCheck::NoDescriptor;
    }
    const size_t length = static_cast<size_t>(size) < descriptor.size() ? static_cast<size_t>(size)
                                                                          : descriptor.size();
    const DescriptorFacts facts = walkReportDescriptor(descriptor.data(), length);
    if (!facts.hasReportId) {
        return DeviceCheck::NoReportId;
    }
    diagnostic("reportId: %04X\n", facts.reportId);
    if (!facts.hasUsagePage) {
        return DeviceCheck::NoUsagePage;
    }
    diagnostic("usage: %04X\n", facts.usagePage);
    if (facts.usagePage != kVendorUsagePage) {
        return DeviceCheck::OtherUsagePage;
    }
    if (facts.reportId != reportId) {
        return DeviceCheck::OtherReportId;
    }
    record.handle = std::move(handle);
    record.reportId = facts.reportId;
    record.usagePage = facts.usagePage;
    record.info = device;
    return DeviceCheck::Chosen;
}

bool matchDevice(DeviceBus& bus, const HidDeviceInfo& device, uint16_t vid, uint16_t pid,
                 uint8_t reportId, DeviceRecord& record) {
    return checkDevice(bus, device, vid, pid, reportId, record) == DeviceCheck::Chosen;
}

DeviceCheck openMatching(DeviceBus& bus, const HidDeviceInfo& device, const std::vector<DeviceIdEntry>& entries,
                         DeviceRecord& record) {
    DeviceCheck first = DeviceCheck::OtherIds;
    for (const DeviceIdEntry& entry : entries) {
        const DeviceCheck check = checkDevice(bus, device, entry.vendorId, entry.productId, entry.reportId, record);
        if (check == DeviceCheck::Chosen) return check;
        if (first == DeviceCheck::OtherIds) first = check;
    }
    return first;
}

const SearchClock& steadySearchClock() {
    static const SearchClock clock{
        [] { return std::chrono::steady_clock::now(); },
        [](SearchClock::time_point until) { std::this_thread::sleep_until(until); },
    };
    return clock;
}

void SearchDevice(DeviceBus& bus, std::vector<DeviceIdEntry> entries, int timeoutMs,
                  DeviceRecord& record, const StopSignal& searchCancelled,
                  const SearchClock& clock) {
    record.close();
    record.info = HidDeviceInfo{};
    const SearchClock::time_point deadline = clock.now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (searchCancelled.requested() || clock.now() >= deadline) {
            return;
        }
        const std::vector<HidDeviceInfo> devices = bus.enumerate();
        for (const HidDeviceInfo& device : devices) {
            for (const DeviceIdEntry& entry : entries) {
                if (matchDevice(bus, device, entry.vendorId, entry.productId, entry.reportId, record)) {
                    diagnostic("report ID:%02X\n", record.reportId);
                    if (basic_logger) {
                        basic_logger->info("SearchDevice report ID.{}", static_cast<int>(record.reportId));
                    }
                    return;
                }
            }
        }
        clock.sleepUntil(clock.now() + std::chrono::milliseconds(kSearchPollMs));
        if (searchCancelled.requested()) {
            return;
        }
    }
}

}  // namespace iap
