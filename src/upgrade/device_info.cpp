#include "upgrade/device_info.h"

#include <exception>

#include "logging/logging.h"
#include "upgrade/busy_claim.h"

namespace iap {

void DeviceInfoThread(ToolContext& ctx) {
    BusyClaim claim(ctx.busy, BUSY_DEVINFO);
    if (!claim) {
        return;
    }
    basic_logger->info("DeviceInfoThread");
    ctx.reporter->postTips("...");
    ctx.reporter->postMsg("...");
    try {
        const std::vector<UsbDeviceDescriptor> devices = ctx.bus->usbDevices();
        const UsbDeviceDescriptor* found = nullptr;
        for (const UsbDeviceDescriptor& device : devices) {
            for (const DeviceIdEntry& entry : ctx.package->deviceIds) {
                if (device.idVendor == entry.vendorId && device.idProduct == entry.productId) {
                    found = &device;
                    break;
                }
            }
            if (found) {
                break;
            }
        }
        if (found) {
            ctx.reporter->postDeviceInfo(found->idVendor, found->idProduct, found->bcdDevice);
            ctx.reporter->postTips("OK");
            ctx.reporter->postMsg("OK");
            basic_logger->info("DeviceInfoThread OK");
        } else {
            ctx.reporter->postTips("FAILED");
            ctx.reporter->postMsg("FAILED");
            basic_logger->info("DeviceInfoThread FAILED");
        }
    } catch (const std::exception& e) {
        ctx.reporter->postTips("FAILED");
        ctx.reporter->postMsg("FAILED");
        basic_logger->info("DeviceInfoThread FAILED.{}", e.what());
    }
}

}  // namespace iap
