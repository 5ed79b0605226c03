// The device bus as many threads share it (one per device): enumeration,
// opening and the other bus calls run one at a time (hidapi keeps the last
// error of hid_enumerate and hid_open_path in one global, and the simulated
// bus's list is shared as well). It also lists every path once: hidapi
// lists a node once per top-level collection of its report descriptor.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/device_bus.h"
#include "link/stop_signal.h"

namespace iap {

inline constexpr int kReadSliceMs = 50;

class SharedBus : public DeviceBus {
public:
    explicit SharedBus(DeviceBus& inner) : inner_(inner) {}

    int init() override;
    void exit() override;
    std::vector<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidDevice> openPath(const std::string& path) override;
    std::vector<UsbDeviceDescriptor> usbDevices() override;
    OpenProblem openProblem(const std::string& path) override;

private:
    DeviceBus& inner_;
    std::mutex mutex_;
};

// The device, giving up its waits once stop is requested: a read waits in
// slices of at most kReadSliceMs and fails (-1, as an unplugged device
// does) once a stop is requested; a write fails at once. Null stays null.
std::unique_ptr<HidDevice> stopAware(std::unique_ptr<HidDevice> device, const StopSignal& stop);

}  // namespace iap
