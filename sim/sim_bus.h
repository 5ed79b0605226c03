// The in-memory device bus: any number of simulated devices, attached and
// detached from any thread while the link enumerates and talks to them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "link/device_bus.h"
#include "sim/sim_device.h"

namespace iap::sim {

class SimBus : public DeviceBus {
public:
    int init() override;
    void exit() override;
    std::vector<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidDevice> openPath(const std::string& path) override;
    std::vector<UsbDeviceDescriptor> usbDevices() override;
    // "Permission denied" for a device whose opens fail, "No such device"
    // for a path that is not on the bus.
    OpenProblem openProblem(const std::string& path) override;

    // Creates a device and attaches it (enumerated after the devices
    // attached before it). A device without a port chain is given "1-<n>",
    // n counting the devices this bus gave a port.
    std::shared_ptr<SimDevice> attach(BootloaderConfig config = {}, PathStyle style = PathStyle::Hidraw);
    void attach(std::shared_ptr<SimDevice> device);
    // Unplugs the device: its open handles fail from then on.
    void detach(const std::shared_ptr<SimDevice>& device);
    std::vector<std::shared_ptr<SimDevice>> devices();

    // Makes usbDevices() throw std::runtime_error("failed to init libusb.").
    void setUsbFails(bool fails) { usbFails_ = fails; }

    size_t enumerations() const { return enumerations_.load(); }
    int exitCount() const { return exits_.load(); }

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<SimDevice>> devices_;
    std::atomic<bool> usbFails_{false};
    std::atomic<size_t> enumerations_{0};
    std::atomic<int> exits_{0};
    unsigned portsGiven_ = 0;
};

}  // namespace iap::sim
