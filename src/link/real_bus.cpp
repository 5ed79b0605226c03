#include "link/real_bus.h"

#include <hidapi.h>

#include "link/hid_node.h"
#include "link/hidapi_devices.h"
#include "link/libusb_devices.h"

namespace iap {
namespace {

class RealBus : public DeviceBus {
public:
    int init() override { return hid_init(); }
    void exit() override { hid_exit(); }
    std::vector<HidDeviceInfo> enumerate() override { return hidapiEnumerate(); }
    std::unique_ptr<HidDevice> openPath(const std::string& path) override { return hidapiOpen(path); }
    std::vector<UsbDeviceDescriptor> usbDevices() override { return libusbDeviceDescriptors(); }
    OpenProblem openProblem(const std::string& path) override { return hidNodeOpenProblem(path); }
};

}  // namespace

std::unique_ptr<DeviceBus> makeRealBus() { return std::make_unique<RealBus>(); }

}  // namespace iap
