// A full-speed USB timing model in front of the simulated bus: every output
// report waits for the start of the next 1 ms frame before it goes out. With
// the simulated device delivering its answer at the next frame as well, each
// report costs two frames.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/device_bus.h"

namespace iap::bench {

// Sleeps until the next whole millisecond of the steady clock.
inline void waitForNextFrame() {
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    const auto next = std::chrono::floor<std::chrono::milliseconds>(now.time_since_epoch()) +
                      std::chrono::milliseconds(1);
    std::this_thread::sleep_until(Clock::time_point(std::chrono::duration_cast<Clock::duration>(next)));
}

class FramedDevice : public HidDevice {
public:
    explicit FramedDevice(std::unique_ptr<HidDevice> inner) : inner_(std::move(inner)) {}
    int getReportDescriptor(uint8_t* buf, size_t size) override { return inner_->getReportDescriptor(buf, size); }
    int write(const uint8_t* data, size_t length) override {
        waitForNextFrame();
        return inner_->write(data, length);
    }
    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        return inner_->readTimeout(data, length, milliseconds);
    }

private:
    std::unique_ptr<HidDevice> inner_;
};

class FramedBus : public DeviceBus {
public:
    explicit FramedBus(DeviceBus& inner) : inner_(inner) {}
    int init() override { return inner_.init(); }
    void exit() override { inner_.exit(); }
    std::vector<HidDeviceInfo> enumerate() override { return inner_.enumerate(); }
    std::unique_ptr<HidDevice> openPath(const std::string& path) override {
        auto device = inner_.openPath(path);
        if (!device) return nullptr;
        return std::make_unique<FramedDevice>(std::move(device));
    }
    std::vector<UsbDeviceDescriptor> usbDevices() override { return inner_.usbDevices(); }

private:
    DeviceBus& inner_;
};

}  // namespace iap::bench
