#include "link/real_bus.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include <hidapi.h>
#include <libusb.h>

namespace iap {
namespace {

std::string utf8OrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

class RealHidDevice : public HidDevice {
public:
    RealHidDevice(hid_device* device, std::string path) : device_(device), path_(std::move(path)) {}
    ~RealHidDevice() override { hid_close(device_); }
    RealHidDevice(const RealHidDevice&) = delete;
    RealHidDevice& operator=(const RealHidDevice&) = delete;

    int getReportDescriptor(uint8_t* buf, size_t size) override {
        return readHidrawDescriptor(path_, buf, size);
    }
    int write(const uint8_t* data, size_t length) override { return hid_write(device_, data, length); }
    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        return hid_read_timeout(device_, data, length, milliseconds);
    }

private:
    hid_device* device_;
    std::string path_;
};

class RealBus : public DeviceBus {
public:
    int init() override { return hid_init(); }
    void exit() override { hid_exit(); }

    std::vector<HidDeviceInfo> enumerate() override {
        std::vector<HidDeviceInfo> list;
        hid_device_info* all = hid_enumerate(0, 0);
        for (hid_device_info* it = all; it != nullptr; it = it->next) {
            HidDeviceInfo info;
            info.path = utf8OrEmpty(it->path);
            info.vendorId = it->vendor_id;
            info.productId = it->product_id;
            info.usagePage = it->usage_page;
            list.push_back(std::move(info));
        }
        hid_free_enumeration(all);
        return list;
    }

    std::unique_ptr<HidDevice> openPath(const std::string& path) override {
        hid_device* device = hid_open_path(path.c_str());
        if (device == nullptr) {
            return nullptr;
        }
        return std::make_unique<RealHidDevice>(device, path);
    }

    std::vector<UsbDeviceDescriptor> usbDevices() override {
        libusb_context* context = nullptr;
        if (libusb_init(&context) != 0) {
            throw std::runtime_error("failed to init libusb.");
        }
        std::vector<UsbDeviceDescriptor> result;
        libusb_device** devices = nullptr;
        const ssize_t count = libusb_get_device_list(context, &devices);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(devices[i], &desc) == 0) {
                result.push_back(UsbDeviceDescriptor{desc.idVendor, desc.idProduct, desc.bcdDevice});
            }
        }
        if (count >= 0) {
            libusb_free_device_list(devices, 1);
        }
        libusb_exit(context);
        return result;
    }
};

int copyOut(const std::string& bytes, uint8_t* buf, size_t size) {
    const size_t n = bytes.size() < size ? bytes.size() : size;
    std::memcpy(buf, bytes.data(), n);
    return static_cast<int>(n);
}

}  // namespace

int readHidrawDescriptor(const std::string& nodePath, uint8_t* buf, size_t size) {
    const size_t slash = nodePath.find_last_of('/');
    const std::string node = slash == std::string::npos ? nodePath : nodePath.substr(slash + 1);
    if (!node.empty()) {
        std::ifstream sysfs("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
        if (sysfs) {
            std::string bytes((std::istreambuf_iterator<char>(sysfs)), std::istreambuf_iterator<char>());
            if (!bytes.empty()) {
                return copyOut(bytes, buf, size);
            }
        }
    }
    const int fd = ::open(nodePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    int descSize = 0;
    hidraw_report_descriptor desc{};
    int result = -1;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &descSize) >= 0 && descSize >= 0 &&
        descSize <= HID_MAX_DESCRIPTOR_SIZE) {
        desc.size = static_cast<uint32_t>(descSize);
        if (::ioctl(fd, HIDIOCGRDESC, &desc) >= 0) {
            result = copyOut(std::string(reinterpret_cast<const char*>(desc.value), desc.size), buf, size);
        }
    }
    ::close(fd);
    return result;
}

std::unique_ptr<DeviceBus> makeRealBus() { return std::make_unique<RealBus>(); }

}  // namespace iap
