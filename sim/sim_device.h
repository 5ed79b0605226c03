// A simulated USB HID device on the in-memory bus: the bootloader model
// (sim_bootloader.h) plus what the bus adds: its path and enumeration
// identity, open handles, an input-report queue with a latency model,
// re-enumeration after a restart, and the recorded traffic.
//
// Thread-safe: every member takes the device's own lock; a blocked read
// waits on a condition variable (never sleeping with a lock held).
// Restarts are applied lazily: whoever looks at the device after the
// restart time sees the new identity.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/device_bus.h"
#include "sim/sim_bootloader.h"

namespace iap::sim {

enum class PathStyle {
    Hidraw,        // "/dev/hidraw<n>": IDs from the enumeration record
    Windows,       // "\\?\hid#VID_1234&PID_5678#..."
    WindowsLower,  // "\\?\hid#vid_1234&pid_5678#...": lower-case tokens
};

struct TrafficRecord {
    bool output = false;  // true: host to device
    Report report;
    std::chrono::steady_clock::time_point time;
};

class SimDevice : public std::enable_shared_from_this<SimDevice> {
public:
    using Clock = std::chrono::steady_clock;

    explicit SimDevice(BootloaderConfig config = {}, PathStyle style = PathStyle::Hidraw);

    // Enumeration view: none while disconnected.
    std::optional<HidDeviceInfo> listing();
    UsbDeviceDescriptor usbDescriptor();
    bool present();
    std::string path();
    Mode mode();

    // Knobs.
    void setPath(std::string path);  // fixed path, kept across restarts
    // The USB port chain the device is plugged into ("1-4.2"); kept across
    // restarts and replugs. The bus gives a device without one a port of its
    // own when it is attached.
    void setPortChain(std::string portChain);
    std::string portChain();
    // Whether the enumeration tells the port chain: not on a system that
    // gives no USB location (Wine). The device is then known by its path only.
    void setPortKnown(bool known);
    // The mode a replugged device starts in: unset, it comes back in the
    // mode it had (a board that starts its application at power-on); set,
    // in that mode (a board whose bootloader waits for a host at power-on).
    void setPowerOnMode(std::optional<Mode> mode);
    // Every input report becomes readable perReport after the output report
    // that caused it; with usbFrames, at the start of the next 1 ms frame.
    void setLatency(std::chrono::microseconds perReport, bool usbFrames = false);
    // Every input report still on its way becomes readable now. With a long
    // latency, a test chooses the moment a reply arrives instead of racing it.
    // The recorded traffic keeps the times the latency gave.
    void deliverNow();
    // switchDelay milliseconds are multiplied by scale (tests use small ones).
    void setTimeScale(double scale);
    void setOpenFails(bool fails);
    bool openFails();
    void setDescriptorFails(bool fails);
    void setDescriptor(std::vector<uint8_t> descriptor);
    void addFault(const Fault& fault);
    void clearFaults();
    // Unplugs the device: it leaves the list and its open handles fail.
    void unplug();
    // A disconnected device comes back (new node), in its current mode.
    void reconnect();

    // Assertions.
    std::vector<TrafficRecord> traffic();
    std::vector<Report> outputReports();
    std::vector<Report> inputReports();
    std::vector<CommandRecord> commands();
    std::vector<uint8_t> flash();
    bool upgradePassed();
    uint16_t bcdDevice();
    uint16_t productId();
    size_t openCount();    // successful opens so far
    size_t openHandles();  // handles not yet closed

    // Used by the bus's handles.
    std::unique_ptr<HidDevice> open();
    int handleDescriptor(unsigned generation, uint8_t* buf, size_t size);
    int handleWrite(unsigned generation, const uint8_t* data, size_t length);
    int handleRead(unsigned generation, uint8_t* data, size_t length, int milliseconds);
    void handleClosed();

private:
    void refreshLocked(Clock::time_point now);
    void reEnumerateLocked();
    std::string makePathLocked() const;

    std::mutex mutex_;
    std::condition_variable changed_;
    SimBootloader core_;
    PathStyle style_;
    std::string fixedPath_;
    std::string path_;
    std::string portChain_;
    bool portKnown_ = true;
    std::optional<Mode> powerOnMode_;
    unsigned node_ = 0;
    unsigned generation_ = 0;
    bool present_ = true;
    bool openFails_ = false;
    bool descriptorFails_ = false;
    std::chrono::microseconds latency_{0};
    bool usbFrames_ = false;
    double timeScale_ = 1.0;
    struct Pending {
        Clock::time_point at;
        Mode target;
    };
    std::optional<Pending> restart_;
    struct Queued {
        Clock::time_point ready;
        unsigned generation;
        Report report;
    };
    std::deque<Queued> inbox_;
    std::vector<TrafficRecord> traffic_;
    size_t openCount_ = 0;
    size_t openHandles_ = 0;
};

}  // namespace iap::sim
