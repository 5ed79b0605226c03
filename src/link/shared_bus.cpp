#include "link/shared_bus.h"

#include <algorithm>
#include <unordered_set>

namespace iap {
namespace {

class StopAwareDevice : public HidDevice {
public:
    StopAwareDevice(std::unique_ptr<HidDevice> inner, const StopSignal& stop)
        : inner_(std::move(inner)), stop_(stop) {}

    int getReportDescriptor(uint8_t* buf, size_t size) override { return inner_->getReportDescriptor(buf, size); }

    int write(const uint8_t* data, size_t length) override {
        if (stop_.requested()) return -1;
        return inner_->write(data, length);
    }

    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        if (milliseconds == 0) return stop_.requested() ? -1 : inner_->readTimeout(data, length, 0);
        int left = milliseconds;  // negative: no limit
        for (;;) {
            if (stop_.requested()) return -1;
            const int slice = left < 0 ? kReadSliceMs : std::min(left, kReadSliceMs);
            const int got = inner_->readTimeout(data, length, slice);
            if (got != 0) return got;
            if (left >= 0 && (left -= slice) <= 0) return 0;
        }
    }

private:
    std::unique_ptr<HidDevice> inner_;
    const StopSignal& stop_;
};

}  // namespace

int SharedBus::init() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.init();
}

void SharedBus::exit() {
    std::lock_guard<std::mutex> lock(mutex_);
    inner_.exit();
}

std::vector<HidDeviceInfo> SharedBus::enumerate() {
    std::vector<HidDeviceInfo> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all = inner_.enumerate();
    }
    std::vector<HidDeviceInfo> once;
    std::unordered_set<std::string> seen;
    for (HidDeviceInfo& info : all) {
        if (seen.insert(info.path).second) once.push_back(std::move(info));
    }
    return once;
}

std::unique_ptr<HidDevice> SharedBus::openPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.openPath(path);
}

std::vector<UsbDeviceDescriptor> SharedBus::usbDevices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.usbDevices();
}

OpenProblem SharedBus::openProblem(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_.openProblem(path);
}

std::unique_ptr<HidDevice> stopAware(std::unique_ptr<HidDevice> device, const StopSignal& stop) {
    if (!device) return nullptr;
    return std::make_unique<StopAwareDevice>(std::move(device), stop);
}

}  // namespace iap
