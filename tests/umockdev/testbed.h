// A umockdev testbed holding fake USB HID devices, each a sysfs tree
// usb_device / usb_interface / hid / hidraw with a /dev/hidrawN node, as the
// real hidapi (hidraw back-end), libudev and libusb see them.
//
// Facts of umockdev 0.17 that shape this harness:
//  - the process must run with libumockdev-preload (see preload_main.cpp);
//  - one testbed per process;
//  - fstat() on the node is not faked, so every node is relabelled with the
//    device number of its PTY (sysfs "dev", /sys/dev/char, MAJOR/MINOR);
//  - handlers run on umockdev's own thread (fake_hidraw.h).
#pragma once

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
    std::string manufacturer = "IAP Test";
    std::string product = "IAP Test Device";
    std::string serial = "0001";
    std::vector<uint8_t> reportDescriptor;
};

// USB device descriptor followed by the configuration (interface, HID and
// two interrupt endpoints), as the sysfs "descriptors" attribute holds them.
std::vector<uint8_t> usbDescriptors(const UsbHidIdentity& identity);

class Testbed {
public:
    // requirePreload: the testbed serves only other processes (started with
    // the preload library and $UMOCKDEV_DIR) when false.
    explicit Testbed(bool requirePreload = true);
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // True when libumockdev-preload is loaded into this process.
    static bool preloadActive();

    std::string rootDir() const;

    // Plugs a device: builds its sysfs tree and node, sends "add" uevents,
    // and returns the node (owned by the testbed until it is destroyed).
    // Every plug gets a new node name (/dev/hidraw0, /dev/hidraw1, ...) and
    // a new USB device number, as a real re-enumeration does.
    FakeHidraw& plug(const UsbHidIdentity& identity, Responder responder);

    // Unplugs a device: the node hangs up, "remove" uevents go out and the
    // sysfs tree and node disappear. Unknown or already unplugged: no-op.
    void unplug(FakeHidraw& node);

    // Node paths of the devices plugged now, in plug order.
    std::vector<std::string> pluggedNodes() const;

private:
    struct Plugged {
        std::string usb, interface, hid, hidraw;  // sysfs paths
        FakeHidraw* node = nullptr;
    };

    void relabel(const Plugged& device, const FakeHidraw& node, const std::string& placeholder);
    std::string ptyMapEntry(const FakeHidraw& node) const;

    UMockdevTestbed* bed_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Plugged> plugged_;
    // Nodes live until the testbed goes: a client may still hold one open.
    std::vector<std::unique_ptr<FakeHidraw>> nodes_;
    int sequence_ = 0;
};

}  // namespace iap::umock
