#include "emulated_device.h"

#include <algorithm>

namespace iap::umock {
namespace {

// Time between a device leaving the bus and coming back in its new mode.
constexpr auto kReEnumeration = std::chrono::milliseconds(30);
// A device restarts only after the host has read its last answer, or after
// this long.
constexpr auto kAnswerGrace = std::chrono::milliseconds(1000);

UsbHidIdentity identityOf(const sim::SimBootloader& core, const std::string& port) {
    UsbHidIdentity id;
    id.port = port;
    id.serial = core.config().serialNumber;
    id.vendorId = core.vendorId();
    id.productId = core.productId();
    id.bcdDevice = core.bcdDevice();
    id.product = core.mode() == sim::Mode::Bootloader ? "IAP Bootloader" : "IAP Application";
    id.reportDescriptor = core.descriptor();
    return id;
}

}  // namespace

sim::BootloaderConfig deviceConfig(sim::Mode mode, uint16_t bcdDevice) {
    sim::BootloaderConfig config;
    config.reportId = kReportId;
    config.vendorId = kVendorId;
    config.appProductId = kAppProductId;
    config.bootProductId = kBootProductId;
    config.bcdDevice = bcdDevice;
    config.mode = mode;
    return config;
}

std::vector<uint8_t> descriptorWithUsagePage(uint16_t usagePage) {
    std::vector<uint8_t> d = sim::vendorDescriptor(kReportId);
    d[1] = static_cast<uint8_t>(usagePage & 0xFF);  // 06 lo hi comes first
    d[2] = static_cast<uint8_t>(usagePage >> 8);
    return d;
}

std::vector<uint8_t> descriptorWithoutReportId() {
    std::vector<uint8_t> d = sim::vendorDescriptor(kReportId);
    const auto item = std::find(d.begin(), d.end(), uint8_t{0x85});
    d.erase(item, item + 2);
    return d;
}

EmulatedDevice::EmulatedDevice(Testbed& bed, sim::BootloaderConfig config, double timeScale, std::string port)
    : bed_(bed), timeScale_(timeScale), port_(port.empty() ? bed.newPort() : std::move(port)), core_(std::move(config)) {
    core_.onLeave = [this](sim::Mode target, uint16_t delayMs, bool disconnect) {
        // Called from onReport with mutex_ held.
        const auto delay = std::chrono::milliseconds(
            disconnect ? 0 : static_cast<long>(delayMs * timeScale_));
        restarts_.push_back(Restart{std::chrono::steady_clock::now() + delay, target, disconnect, node_});
        changed_.notify_all();
    };
    bed_.awaitChange(false);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        plugLocked();
    }
    worker_ = std::thread([this] { run(); });
}

EmulatedDevice::~EmulatedDevice() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    worker_.join();
    if (!state().node.empty()) unplug();
    // A write that came in just before an unplug may still be in onReport.
    for (FakeHidraw* node : nodes_) {
        node->retire();
    }
}

void EmulatedDevice::plugLocked() {
    node_ = &bed_.plug(identityOf(core_, port_),
                       [this](const uint8_t* data, size_t length) { return onReport(data, length); });
    nodes_.push_back(node_);
    changed_.notify_all();
}

std::vector<Report> EmulatedDevice::onReport(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The model takes 64-byte reports; hidapi writes exactly what it is given.
    Report report(64, 0);
    std::copy(data, data + std::min<size_t>(length, report.size()), report.begin());
    std::vector<Report> replies = core_.onOutputReport(report.data());
    if (replyLatency_.count() == 0 || replies.empty()) {
        return replies;
    }
    replies_.push_back(Replies{std::chrono::steady_clock::now() + replyLatency_, node_, std::move(replies)});
    changed_.notify_all();
    return {};
}

void EmulatedDevice::setReplyLatency(std::chrono::microseconds latency) {
    std::lock_guard<std::mutex> lock(mutex_);
    replyLatency_ = latency;
}

void EmulatedDevice::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        const auto now = std::chrono::steady_clock::now();
        if (!replies_.empty() && replies_.front().at <= now) {
            for (Report& reply : replies_.front().reports) replies_.front().node->deliver(std::move(reply));
            replies_.pop_front();
            continue;
        }
        // A restart comes after the answers the device still owes.
        if (!restarts_.empty() && replies_.empty() && restarts_.front().at <= now) {
            restart(lock);
            continue;
        }
        if (!replies_.empty()) {
            changed_.wait_until(lock, replies_.front().at);
        } else if (!restarts_.empty()) {
            changed_.wait_until(lock, restarts_.front().at);
        } else {
            changed_.wait(lock);
        }
    }
}

void EmulatedDevice::restart(std::unique_lock<std::mutex>& lock) {
    const Restart next = restarts_.front();
    if (next.node == nullptr || next.node != node_) {
        restarts_.pop_front();
        return;  // that node is gone already
    }
    FakeHidraw* node = node_;
    const auto graceEnd = std::chrono::steady_clock::now() + kAnswerGrace;
    while (!next.disconnect && node->inputReportsPending() > 0 && std::chrono::steady_clock::now() < graceEnd &&
           !stopping_) {
        changed_.wait_for(lock, std::chrono::milliseconds(2));
    }
    const auto stop = [this] { return stopping_; };
    if (changed_.wait_until(lock, bed_.reserveChange(true), stop)) return;
    bed_.unplug(*node);
    node_ = nullptr;
    changed_.notify_all();
    if (!next.disconnect) {
        if (changed_.wait_for(lock, kReEnumeration, stop) ||
            changed_.wait_until(lock, bed_.reserveChange(false), stop)) {
            return;
        }
        core_.enterMode(next.target);
        plugLocked();
    }
    // Done only now: until then the restart counts as under way.
    restarts_.pop_front();
    changed_.notify_all();
}

void EmulatedDevice::addFault(const sim::Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.addFault(fault);
}

void EmulatedDevice::replug() {
    bed_.awaitChange(false);
    std::lock_guard<std::mutex> lock(mutex_);
    if (node_ == nullptr) {
        plugLocked();
    }
}

void EmulatedDevice::unplug() {
    bed_.awaitChange(true);
    std::lock_guard<std::mutex> lock(mutex_);
    if (node_ != nullptr) {
        bed_.unplug(*node_);
        node_ = nullptr;
        changed_.notify_all();
    }
}

bool EmulatedDevice::waitForMode(sim::Mode mode, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        return node_ != nullptr && core_.mode() == mode && restarts_.empty();
    });
}

bool EmulatedDevice::waitForRest(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return restarts_.empty(); });
}

bool EmulatedDevice::waitForAbsence(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return node_ == nullptr; });
}

EmulatedDevice::State EmulatedDevice::state() {
    std::lock_guard<std::mutex> lock(mutex_);
    return State{core_.mode(),          core_.productId(),
                 core_.bcdDevice(),     core_.upgradePassed(),
                 nodes_.size(),         node_ != nullptr ? node_->nodePath() : std::string(),
                 port_,                 core_.flash()};
}

}  // namespace iap::umock
