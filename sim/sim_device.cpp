#include "sim/sim_device.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "link/discovery.h"

namespace iap::sim {
namespace {

std::atomic<unsigned> nextNode{0};

class SimHandle : public HidDevice {
public:
    SimHandle(std::shared_ptr<SimDevice> device, unsigned generation)
        : device_(std::move(device)), generation_(generation) {}
    ~SimHandle() override { device_->handleClosed(); }
    SimHandle(const SimHandle&) = delete;
    SimHandle& operator=(const SimHandle&) = delete;

    int getReportDescriptor(uint8_t* buf, size_t size) override {
        return device_->handleDescriptor(generation_, buf, size);
    }
    int write(const uint8_t* data, size_t length) override {
        return device_->handleWrite(generation_, data, length);
    }
    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        return device_->handleRead(generation_, data, length, milliseconds);
    }

private:
    std::shared_ptr<SimDevice> device_;
    unsigned generation_;
};

}  // namespace

SimDevice::SimDevice(BootloaderConfig config, PathStyle style)
    : core_(std::move(config)), style_(style), node_(nextNode++) {
    path_ = makePathLocked();
    // Called from inside core_.onOutputReport, with mutex_ held.
    core_.onLeave = [this](Mode target, uint16_t delayMs, bool disconnect) {
        if (disconnect) {
            present_ = false;
            restart_.reset();
            ++generation_;
            return;
        }
        const auto delay = std::chrono::duration<double, std::milli>(delayMs * timeScale_);
        restart_ = Pending{Clock::now() + std::chrono::duration_cast<Clock::duration>(delay), target};
    };
}

std::string SimDevice::makePathLocked() const {
    if (!fixedPath_.empty()) {
        return fixedPath_;
    }
    char text[160];
    const uint16_t vid = core_.vendorId();
    const uint16_t pid = core_.productId();
    switch (style_) {
    case PathStyle::Windows:
        std::snprintf(text, sizeof text,
                      "\\\\?\\hid#VID_%04X&PID_%04X#7&2a1b3c&0&%04u#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                      vid, pid, node_);
        break;
    case PathStyle::WindowsLower:
        std::snprintf(text, sizeof text,
                      "\\\\?\\hid#vid_%04x&pid_%04x#7&2a1b3c&0&%04u#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                      vid, pid, node_);
        break;
    case PathStyle::Hidraw:
    default:
        std::snprintf(text, sizeof text, "/dev/hidraw%u", node_);
        break;
    }
    return text;
}

void SimDevice::reEnumerateLocked() {
    ++generation_;
    node_ = nextNode++;
    present_ = true;
    path_ = makePathLocked();
    changed_.notify_all();
}

void SimDevice::refreshLocked(Clock::time_point now) {
    if (restart_ && now >= restart_->at) {
        const Mode target = restart_->target;
        restart_.reset();
        core_.enterMode(target);
        reEnumerateLocked();
    }
}

std::optional<HidDeviceInfo> SimDevice::listing() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    if (!present_) {
        return std::nullopt;
    }
    return HidDeviceInfo{path_, core_.vendorId(), core_.productId(), kVendorUsagePage, core_.bcdDevice(),
                         core_.config().serialNumber, portKnown_ ? portChain_ : std::string()};
}

UsbDeviceDescriptor SimDevice::usbDescriptor() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    return UsbDeviceDescriptor{core_.vendorId(), core_.productId(), core_.bcdDevice()};
}

bool SimDevice::present() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    return present_;
}

std::string SimDevice::path() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    return path_;
}

Mode SimDevice::mode() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    return core_.mode();
}

void SimDevice::setPath(std::string path) {
    std::lock_guard lock(mutex_);
    fixedPath_ = std::move(path);
    path_ = makePathLocked();
}

void SimDevice::setPortChain(std::string portChain) {
    std::lock_guard lock(mutex_);
    portChain_ = std::move(portChain);
}

std::string SimDevice::portChain() {
    std::lock_guard lock(mutex_);
    return portChain_;
}

void SimDevice::setPortKnown(bool known) {
    std::lock_guard lock(mutex_);
    portKnown_ = known;
}

void SimDevice::setPowerOnMode(std::optional<Mode> mode) {
    std::lock_guard lock(mutex_);
    powerOnMode_ = mode;
}

void SimDevice::deliverNow() {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    for (Queued& queued : inbox_) {
        if (queued.ready > now) queued.ready = now;
    }
    changed_.notify_all();
}

void SimDevice::setLatency(std::chrono::microseconds perReport, bool usbFrames) {
    std::lock_guard lock(mutex_);
    latency_ = perReport;
    usbFrames_ = usbFrames;
}

void SimDevice::setTimeScale(double scale) {
    std::lock_guard lock(mutex_);
    timeScale_ = scale;
}

void SimDevice::setOpenFails(bool fails) {
    std::lock_guard lock(mutex_);
    openFails_ = fails;
}

bool SimDevice::openFails() {
    std::lock_guard lock(mutex_);
    return openFails_;
}

void SimDevice::setDescriptorFails(bool fails) {
    std::lock_guard lock(mutex_);
    descriptorFails_ = fails;
}

void SimDevice::setDescriptor(std::vector<uint8_t> descriptor) {
    std::lock_guard lock(mutex_);
    core_.setDescriptor(std::move(descriptor));
}

void SimDevice::addFault(const Fault& fault) {
    std::lock_guard lock(mutex_);
    core_.addFault(fault);
}

void SimDevice::clearFaults() {
    std::lock_guard lock(mutex_);
    core_.clearFaults();
}

void SimDevice::unplug() {
    std::lock_guard lock(mutex_);
    if (present_) {
        present_ = false;
        restart_.reset();
        ++generation_;
        changed_.notify_all();
    }
}

void SimDevice::reconnect() {
    std::lock_guard lock(mutex_);
    if (!present_) {
        if (powerOnMode_) core_.enterMode(*powerOnMode_);
        reEnumerateLocked();
    }
}

std::vector<TrafficRecord> SimDevice::traffic() {
    std::lock_guard lock(mutex_);
    return traffic_;
}

std::vector<Report> SimDevice::outputReports() {
    std::lock_guard lock(mutex_);
    std::vector<Report> out;
    for (const TrafficRecord& t : traffic_) {
        if (t.output) out.push_back(t.report);
    }
    return out;
}

std::vector<Report> SimDevice::inputReports() {
    std::lock_guard lock(mutex_);
    std::vector<Report> in;
    for (const TrafficRecord& t : traffic_) {
        if (!t.output) in.push_back(t.report);
    }
    return in;
}

std::vector<CommandRecord> SimDevice::commands() {
    std::lock_guard lock(mutex_);
    return core_.commands();
}

std::vector<uint8_t> SimDevice::flash() {
    std::lock_guard lock(mutex_);
    return core_.flash();
}

bool SimDevice::upgradePassed() {
    std::lock_guard lock(mutex_);
    return core_.upgradePassed();
}

uint16_t SimDevice::bcdDevice() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    return core_.bcdDevice();
}

uint16_t SimDevice::productId() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    return core_.productId();
}

size_t SimDevice::openCount() {
    std::lock_guard lock(mutex_);
    return openCount_;
}

size_t SimDevice::openHandles() {
    std::lock_guard lock(mutex_);
    return openHandles_;
}

std::unique_ptr<HidDevice> SimDevice::open() {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    if (!present_ || openFails_) {
        return nullptr;
    }
    // A new handle sees only the reports that arrive after it was opened (as
    // a new hidraw file does): replies left unread by earlier handles, or
    // queued before a restart, are dropped.
    const Clock::time_point now = Clock::now();
    inbox_.erase(std::remove_if(inbox_.begin(), inbox_.end(),
                                [&](const Queued& q) { return q.ready <= now || q.generation != generation_; }),
                 inbox_.end());
    ++openCount_;
    ++openHandles_;
    return std::make_unique<SimHandle>(shared_from_this(), generation_);
}

void SimDevice::handleClosed() {
    std::lock_guard lock(mutex_);
    --openHandles_;
}

int SimDevice::handleDescriptor(unsigned generation, uint8_t* buf, size_t size) {
    std::lock_guard lock(mutex_);
    refreshLocked(Clock::now());
    if (generation != generation_ || !present_ || descriptorFails_) {
        return -1;
    }
    const std::vector<uint8_t> descriptor = core_.descriptor();
    const size_t n = std::min(size, descriptor.size());
    if (n > 0) std::memcpy(buf, descriptor.data(), n);
    return static_cast<int>(n);
}

int SimDevice::handleWrite(unsigned generation, const uint8_t* data, size_t length) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    refreshLocked(now);
    if (generation != generation_ || !present_ || length == 0) {
        return -1;
    }
    Report report(64, 0);
    std::memcpy(report.data(), data, std::min<size_t>(length, 64));
    traffic_.push_back(TrafficRecord{true, report, now});
    const unsigned replyGeneration = generation_;
    std::vector<Report> replies = core_.onOutputReport(report.data());

    Clock::time_point ready = now + latency_;
    if (usbFrames_) {
        // Deliver at the start of the next 1 ms frame.
        const auto sinceEpoch = ready.time_since_epoch();
        const auto frames = std::chrono::ceil<std::chrono::milliseconds>(sinceEpoch);
        ready = Clock::time_point(std::chrono::duration_cast<Clock::duration>(frames));
    }
    for (Report& reply : replies) {
        traffic_.push_back(TrafficRecord{false, reply, ready});
        inbox_.push_back(Queued{ready, replyGeneration, std::move(reply)});
    }
    changed_.notify_all();
    return static_cast<int>(std::min<size_t>(length, 64));
}

int SimDevice::handleRead(unsigned generation, uint8_t* data, size_t length, int milliseconds) {
    std::unique_lock lock(mutex_);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        start + (milliseconds < 0 ? std::chrono::hours(24) : std::chrono::milliseconds(milliseconds));
    for (;;) {
        const Clock::time_point now = Clock::now();
        refreshLocked(now);
        auto it = std::find_if(inbox_.begin(), inbox_.end(),
                               [generation](const Queued& q) { return q.generation == generation; });
        if (it != inbox_.end() && it->ready <= now) {
            const size_t n = std::min(length, it->report.size());
            std::memcpy(data, it->report.data(), n);
            inbox_.erase(it);
            return static_cast<int>(n);
        }
        if (it == inbox_.end() && (generation != generation_ || !present_)) {
            return -1;  // the device is gone
        }
        if (now >= deadline) {
            return 0;
        }
        Clock::time_point wake = deadline;
        if (it != inbox_.end()) wake = std::min(wake, it->ready);
        if (restart_) wake = std::min(wake, restart_->at);
        changed_.wait_until(lock, wake);
    }
}

}  // namespace iap::sim
