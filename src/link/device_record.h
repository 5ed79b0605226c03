// The device that discovery chose: the open HID device, the first report ID
// of its report descriptor (written in byte 0 of every report), its usage
// page (always 0xFF00 for a chosen device) and how it was enumerated.
#pragma once

#include <cstdint>
#include <memory>

#include "link/device_bus.h"

namespace iap {

struct DeviceRecord {
    std::unique_ptr<HidDevice> handle;
    uint8_t reportId = 0;
    uint16_t usagePage = 0;
    HidDeviceInfo info;

    // hid_close: releases the device; the record then has no handle.
    void close() { handle.reset(); }
    bool isOpen() const { return handle != nullptr; }
};

}  // namespace iap
