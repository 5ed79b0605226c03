// A umockdev testbed holding fake USB HID devices, each a sysfs tree
// usb_device / usb_interface / hid / hidraw with a /dev/hidrawN node, as the
// real hidapi (hidraw back-end), libudev and libusb see them.
//
// Facts of umockdev 0.17 that shape this harness:
//  - the process must run with libumockdev-preload (enterTestbedProcess);
//  - one testbed per process;
//  - the node is a PTY: fstat() on a client's descriptor shows the PTY's
//    device number (FakeHidraw::rdev), not the hidraw one of sysfs, so
//    calls that go from the descriptor to sysfs (hid_get_device_info) do not
//    work; the tool makes none;
//  - handlers run on umockdev's own thread (fake_hidraw.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_hidraw.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace iap::umock {

struct UsbHidIdentity {
    uint16_t vendorId = 0x1234;
    uint16_t productId = 0x5678;
    uint16_t bcdDevice = 0x0100;
    std::string product = "IAP Test Device";
    std::string serial = "0001";
    // The USB port chain ("1-4.2": bus 1, hub on port 4, its port 2); the
    // sysfs tree nests the device under its hubs as Linux does. Empty: a
    // port of its own on the root hub (newPort).
    std::string port;
    std::vector<uint8_t> reportDescriptor;
};

// Readies this process for a testbed: starts it again with
// libumockdev-preload first in LD_PRELOAD when the library is not loaded yet
// (then returns only on failure, with 1; no endless re-exec), points TMPDIR
// at $IAP_UMOCKDEV_TMPDIR or umockdev-tmp next to the binary (so that a
// crashed run leaves its testbed in the build folder), and ignores SIGHUP:
// hidapi opens the PTY-backed node without O_NOCTTY, so a session leader
// would take it as its controlling terminal and be hung up with it.
// Returns 0 when the process may go on.
int enterTestbedProcess(char** argv);

class Testbed {
public:
    Testbed();  // throws without libumockdev-preload, or when one exists
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    std::string rootDir() const;

    // A root hub port no plug has used yet ("1-1", "1-2", ...).
    std::string newPort();

    // Plugs a device: builds its sysfs tree and node, sends "add" uevents,
    // and returns the node (owned by the testbed until it is destroyed).
    // Every plug gets a new node name (/dev/hidraw0, /dev/hidraw1, ...) and
    // a new USB device number, as a real re-enumeration does; the port is
    // the identity's.
    FakeHidraw& plug(const UsbHidIdentity& identity, Responder responder);

    // Unplugs a device: the node hangs up, "remove" uevents go out and the
    // sysfs tree and node disappear. Unknown or already unplugged: no-op.
    // In Wine mode (setWineMode) the node hangs up quietly
    // (FakeHidraw::hangUpQuietly).
    void unplug(FakeHidraw& node);

    // Wine mode, for clients under Wine 8, whose winebus unlinks a removed
    // device from its list twice (at the removal and at the removal's IRP):
    // a device added or removed in between is lost from the list or comes
    // back. Each plug and unplug then comes at least kWineRemovalGap after
    // the last unplug; unplugs are quiet.
    void setWineMode(bool on) { wine_ = on; }
    static constexpr std::chrono::milliseconds kWineRemovalGap{500};
    // The time from which a plug (or unplug) may come; reserves it. Now,
    // outside Wine mode.
    std::chrono::steady_clock::time_point reserveChange(bool unplug);
    // Waits for reserveChange's time; for callers that hold no lock a
    // testbed handler needs.
    void awaitChange(bool unplug);

private:
    struct Plugged {
        std::string usb, interface, hid, hidraw;  // sysfs paths
        FakeHidraw* node = nullptr;
    };

    std::string ptyMapEntry(const FakeHidraw& node) const;

    UMockdevTestbed* bed_ = nullptr;
    std::mutex mutex_;
    std::vector<Plugged> plugged_;
    // Nodes live until the testbed goes: a client may still hold one open.
    std::vector<std::unique_ptr<FakeHidraw>> nodes_;
    int sequence_ = 0;
    std::atomic<bool> wine_{false};
    std::mutex changeMutex_;
    std::chrono::steady_clock::time_point nextChange_{};
    int ports_ = 0;
};

}  // namespace iap::umock
