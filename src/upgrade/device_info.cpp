#include "upgrade/device_info.h"

#include <exception>

#include "app/logging.h"
#include "ui/ui_thread.h"
#include "upgrade/busy_claim.h"
#include "upgrade/procedure_support.h"

namespace iap {

void DeviceInfoThread(ToolContext& ctx) {
    BusyClaim claim(ctx.busy, BUSY_DEVINFO);
    if (!claim) {
        return;
    }
    basic_logger->info("DeviceInfoThread");
    postTips(ctx, "...");
    postMsg(ctx, "...");
    try {
        const std::vector<UsbDeviceDescriptor> devices = ctx.bus->usbDevices();
        const UsbDeviceDescriptor* found = nullptr;
        for (const UsbDeviceDescriptor& device : devices) {
            for (const DeviceIdEntry& entry : ctx.state->deviceIds) {
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
            UIEvent event;
            event.eventType = EVENT_DEVINFO;
            event.vid = found->idVendor;
            event.pid = found->idProduct;
            event.bcdDevice = found->bcdDevice;
            UIThreadPutEvent(*ctx.events, event);
            postTips(ctx, "OK");
            postMsg(ctx, "OK");
            basic_logger->info("DeviceInfoThread OK");
        } else {
            postTips(ctx, "FAILED");
            postMsg(ctx, "FAILED");
            basic_logger->info("DeviceInfoThread FAILED");
        }
    } catch (const std::exception& e) {
        postTips(ctx, "FAILED");
        postMsg(ctx, "FAILED");
        basic_logger->info("DeviceInfoThread FAILED.{}", e.what());
    }
}

}  // namespace iap
