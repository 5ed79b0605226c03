#include "testbed.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <umockdev.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace iap::umock {
namespace {

std::atomic<bool> g_testbedExists{false};

bool preloadActive() {
    // The preload library exports its ioctl tree helpers.
    return dlsym(RTLD_DEFAULT, "ioctl_tree_read") != nullptr;
}

// "old:extra", or "extra" when old is unset or empty.
void appendEnv(const char* name, const std::string& extra, bool front) {
    const char* old = std::getenv(name);
    std::string value = extra;
    if (old != nullptr && *old != '\0') {
        value = front ? extra + ":" + old : std::string(old) + ":" + extra;
    }
    ::setenv(name, value.c_str(), 1);
}

std::string hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

std::string fmt(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, a, b, c);
    return buf;
}

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// USB device descriptor followed by the configuration (interface, HID and
// two interrupt endpoints), as the sysfs "descriptors" attribute holds them.
std::vector<uint8_t> usbDescriptors(const UsbHidIdentity& id) {
    std::vector<uint8_t> d = {18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64};
    put16(d, id.vendorId);
    put16(d, id.productId);
    put16(d, id.bcdDevice);
    d.insert(d.end(), {1, 2, 3, 1});
    // Configuration: 9 + interface 9 + HID 9 + two endpoints of 7 bytes.
    d.insert(d.end(), {9, 0x02, 41, 0, 1, 1, 0, 0x80, 50});
    d.insert(d.end(), {9, 0x04, 0, 0, 2, 0x03, 0, 0, 0});
    d.insert(d.end(), {9, 0x21, 0x11, 0x01, 0, 1, 0x22});
    put16(d, static_cast<uint16_t>(id.reportDescriptor.size()));
    d.insert(d.end(), {7, 0x05, 0x81, 0x03, 64, 0, 1});
    d.insert(d.end(), {7, 0x05, 0x01, 0x03, 64, 0, 1});
    return d;
}

void check(gboolean ok, GError* error, const char* what) {
    if (!ok) {
        const std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error(std::string(what) + ": " + message);
    }
}

// "/sys/devices/usb1/1-4/1-4.2" for port "1-4.2": each hub is a USB device
// directory of its own, named by its own chain.
std::string usbDevicePath(const std::string& port) {
    const size_t dash = port.find('-');
    std::string path = "/sys/devices/usb";
    path.append(port, 0, dash);
    for (size_t end = port.find('.', dash); ; end = port.find('.', end + 1)) {
        path += '/';
        path.append(port, 0, end);
        if (end == std::string::npos) break;
    }
    return path;
}

}  // namespace

int enterTestbedProcess(char** argv) {
    if (!preloadActive()) {
        if (std::getenv("IAP_UMOCK_REEXEC") != nullptr) {
            std::fprintf(stderr, "libumockdev-preload.so.0 did not load (is umockdev installed?)\n");
            return 1;
        }
        ::setenv("IAP_UMOCK_REEXEC", "1", 1);
        appendEnv("LD_PRELOAD", "libumockdev-preload.so.0", true);
        // The preload library now comes before the sanitizer runtime.
        appendEnv("ASAN_OPTIONS", "verify_asan_link_order=0", false);
        ::execv("/proc/self/exe", argv);
        std::perror("re-exec with libumockdev-preload");
        return 1;
    }
    std::string dir;
    if (const char* env = std::getenv("IAP_UMOCKDEV_TMPDIR"); env != nullptr && *env != '\0') {
        dir = env;
    } else {
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        dir.assign(exe, n > 0 ? static_cast<size_t>(n) : 0);
        dir = dir.substr(0, dir.find_last_of('/') + 1) + "umockdev-tmp";
    }
    if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) {
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    std::signal(SIGHUP, SIG_IGN);
    return 0;
}

Testbed::Testbed() {
    if (!preloadActive()) {
        throw std::runtime_error("libumockdev-preload is not loaded (see enterTestbedProcess)");
    }
    if (g_testbedExists.exchange(true)) {
        throw std::logic_error("one umockdev testbed per process");
    }
    bed_ = umockdev_testbed_new();
}

std::chrono::steady_clock::time_point Testbed::reserveChange(bool unplug) {
    const auto now = std::chrono::steady_clock::now();
    if (!wine_) return now;
    std::lock_guard<std::mutex> lock(changeMutex_);
    const auto at = std::max(now, nextChange_);
    nextChange_ = unplug ? at + kWineRemovalGap : at;
    return at;
}

void Testbed::awaitChange(bool unplug) { std::this_thread::sleep_until(reserveChange(unplug)); }

Testbed::~Testbed() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& node : nodes_) {
            node->hangUp();
        }
    }
    // Stops umockdev's handler thread before the nodes go.
    g_object_unref(bed_);
    nodes_.clear();
    g_testbedExists = false;
}

std::string Testbed::newPort() {
    std::lock_guard<std::mutex> lock(mutex_);
    return "1-" + std::to_string(++ports_);
}

std::string Testbed::rootDir() const {
    gchar* root = umockdev_testbed_get_root_dir(bed_);
    std::string out = root;
    g_free(root);
    return out;
}

FakeHidraw& Testbed::plug(const UsbHidIdentity& id, Responder responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int seq = sequence_++;
    const unsigned devnum = static_cast<unsigned>(seq + 2);
    const std::string nodeName = "hidraw" + std::to_string(seq);
    const std::vector<uint8_t> descriptors = usbDescriptors(id);

    Plugged dev;
    const std::string port = id.port.empty() ? "1-" + std::to_string(++ports_) : id.port;
    const std::string devpath = port.substr(port.find('-') + 1);
    dev.usb = usbDevicePath(port);
    dev.interface = dev.usb + "/" + port + ":1.0";
    dev.hid = dev.interface + fmt("/0003:%04X:%04X.", id.vendorId, id.productId) +
              fmt("%04X", static_cast<unsigned>(seq + 1));
    dev.hidraw = dev.hid + "/hidraw/" + nodeName;

    const std::string busPath = fmt("bus/usb/001/%03u", devnum);
    const std::string product = fmt("%x/%x/%x", id.vendorId, id.productId, id.bcdDevice);
    std::string rec;
    rec += "P: " + dev.usb.substr(4) + "\n";
    rec += "N: " + busPath + "=" + hex(descriptors) + "\n";
    rec += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
    rec += "E: DEVNAME=/dev/" + busPath + "\n";
    rec += "E: PRODUCT=" + product + "\n";
    rec += "E: BUSNUM=001\nE: DEVNUM=" + fmt("%03u", devnum) + "\n";
    rec += "A: idVendor=" + fmt("%04x", id.vendorId) + "\n";
    rec += "A: idProduct=" + fmt("%04x", id.productId) + "\n";
    rec += "A: bcdDevice=" + fmt("%04x", id.bcdDevice) + "\n";
    rec += "A: manufacturer=IAP Test\n";
    rec += "A: product=" + id.product + "\n";
    rec += "A: serial=" + id.serial + "\n";
    rec += "A: busnum=1\nA: devnum=" + std::to_string(devnum) + "\n";
    rec += "A: devpath=" + devpath + "\n";
    rec += "H: descriptors=" + hex(descriptors) + "\n\n";

    rec += "P: " + dev.interface.substr(4) + "\n";
    rec += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: INTERFACE=3/0/0\n";
    rec += "E: PRODUCT=" + product + "\n";
    rec += "A: bInterfaceNumber=00\nA: bAlternateSetting= 0\nA: bInterfaceClass=03\n\n";

    rec += "P: " + dev.hid.substr(4) + "\n";
    rec += "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n";
    rec += "E: HID_ID=" + fmt("0003:%08X:%08X", id.vendorId, id.productId) + "\n";
    rec += "E: HID_NAME=IAP Test " + id.product + "\n";
    rec += "E: HID_UNIQ=" + id.serial + "\n";
    rec += "H: report_descriptor=" + hex(id.reportDescriptor) + "\n\n";

    rec += "P: " + dev.hidraw.substr(4) + "\n";
    rec += "N: " + nodeName + "\n";
    rec += "E: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + nodeName + "\n";
    rec += "E: MAJOR=240\nE: MINOR=" + std::to_string(seq) + "\n";
    rec += "A: dev=240:" + std::to_string(seq) + "\n";
    rec += "L: device=../..\n\n";

    // The node's handler is attached before the device is announced: a
    // client that opens the node at its "add" uevent (Wine's winebus does at
    // once) must meet the handler, not umockdev's default one.
    const std::string nodePath = "/dev/" + nodeName;
    nodes_.push_back(std::make_unique<FakeHidraw>(nodePath, id.reportDescriptor, std::move(responder)));
    FakeHidraw& node = *nodes_.back();
    dev.node = &node;
    GError* error = nullptr;
    check(umockdev_testbed_attach_ioctl(bed_, nodePath.c_str(), node.handler(), &error), error,
          "attach_ioctl");
    // Builds each sysfs directory and the node, and sends its "add" uevent.
    check(umockdev_testbed_add_from_string(bed_, rec.c_str(), &error), error, "add_from_string");
    const int master = umockdev_testbed_get_dev_fd(bed_, nodePath.c_str());
    if (master < 0) {
        throw std::runtime_error("no PTY for " + nodePath);
    }
    node.bindMaster(master);
    plugged_.push_back(dev);
    return node;
}

std::string Testbed::ptyMapEntry(const FakeHidraw& node) const {
    // dev/.ptymap/_dev_pts_K names the fake device behind /dev/pts/K.
    const std::string root = rootDir();
    char target[256];
    const ssize_t n = ::readlink((root + node.nodePath()).c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return {};
    }
    std::string pts(target, static_cast<size_t>(n));
    std::replace(pts.begin(), pts.end(), '/', '_');
    return root + "/dev/.ptymap/" + pts;
}

void Testbed::unplug(FakeHidraw& node) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(plugged_.begin(), plugged_.end(),
                           [&](const Plugged& p) { return p.node == &node; });
    if (it == plugged_.end()) {
        return;
    }
    const Plugged dev = *it;
    plugged_.erase(it);
    // The PTY's number is free for the next node once the master closes.
    const std::string map = ptyMapEntry(node);
    wine_ ? node.hangUpQuietly() : node.hangUp();
    if (!map.empty()) {
        ::unlink(map.c_str());
    }
    for (const std::string* path : {&dev.hidraw, &dev.hid, &dev.interface, &dev.usb}) {
        umockdev_testbed_uevent(bed_, path->c_str(), "remove");
    }
    GError* error = nullptr;
    if (!umockdev_testbed_detach_ioctl(bed_, node.nodePath().c_str(), &error)) {
        g_clear_error(&error);
    }
    for (const std::string* path : {&dev.hidraw, &dev.hid, &dev.interface, &dev.usb}) {
        umockdev_testbed_remove_device(bed_, path->c_str());
    }
}

}  // namespace iap::umock
