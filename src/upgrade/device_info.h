// The device information query: the vendor ID, product ID and release number
// of the first attached USB device that a device ID entry lists.
#pragma once

#include "upgrade/tool_context.h"

namespace iap {

// A pool task. Claims the busy state with BUSY_DEVINFO (ends at once when
// that fails), reads the bus's USB device descriptors (libusb on the real
// bus), posts the device's numbers and "OK", or "FAILED".
void DeviceInfoThread(ToolContext& ctx);

}  // namespace iap
