// A device ID entry of the tool package: the USB vendor and product IDs and
// the HID report ID under which the device may appear. In memory the fields
// are report ID, product ID, vendor ID (the package stores VID, PID, report ID).
#pragma once

#include <cstdint>

namespace iap {

struct DeviceIdEntry {
    uint8_t reportId = 0;
    uint16_t productId = 0;
    uint16_t vendorId = 0;
};

}  // namespace iap
