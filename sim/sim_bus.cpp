#include "sim/sim_bus.h"

#include <algorithm>
#include <stdexcept>

namespace iap::sim {

int SimBus::init() { return 0; }

void SimBus::exit() { ++exits_; }

std::vector<std::shared_ptr<SimDevice>> SimBus::devices() {
    std::lock_guard lock(mutex_);
    return devices_;
}

std::vector<HidDeviceInfo> SimBus::enumerate() {
    ++enumerations_;
    std::vector<HidDeviceInfo> list;
    for (const auto& device : devices()) {
        if (auto info = device->listing()) {
            list.push_back(std::move(*info));
        }
    }
    return list;
}

std::unique_ptr<HidDevice> SimBus::openPath(const std::string& path) {
    for (const auto& device : devices()) {
        const auto info = device->listing();
        if (info && info->path == path) {
            return device->open();
        }
    }
    return nullptr;
}

std::vector<UsbDeviceDescriptor> SimBus::usbDevices() {
    if (usbFails_) {
        throw std::runtime_error("failed to init libusb.");
    }
    std::vector<UsbDeviceDescriptor> list;
    for (const auto& device : devices()) {
        if (device->present()) {
            list.push_back(device->usbDescriptor());
        }
    }
    return list;
}

std::shared_ptr<SimDevice> SimBus::attach(BootloaderConfig config, PathStyle style) {
    auto device = std::make_shared<SimDevice>(std::move(config), style);
    attach(device);
    return device;
}

OpenProblem SimBus::openProblem(const std::string& path) {
    for (const auto& device : devices()) {
        const auto info = device->listing();
        if (info && info->path == path) {
            if (!device->openFails()) return {};
            return {"Permission denied", true};
        }
    }
    return {"No such device", false};
}

void SimBus::attach(std::shared_ptr<SimDevice> device) {
    device->reconnect();  // a device unplugged before comes back
    std::lock_guard lock(mutex_);
    if (device->portChain().empty()) device->setPortChain("1-" + std::to_string(++portsGiven_));
    devices_.push_back(std::move(device));
}

void SimBus::detach(const std::shared_ptr<SimDevice>& device) {
    {
        std::lock_guard lock(mutex_);
        devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
    }
    device->unplug();
}

}  // namespace iap::sim
