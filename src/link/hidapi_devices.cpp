#include "link/hidapi_devices.h"

#include <hidapi.h>

#include "bytes/wide_text.h"

#include "link/hid_node.h"

namespace iap {
namespace {

std::string textOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }


class HidapiDevice : public HidDevice {
public:
    HidapiDevice(hid_device* device, std::string path) : device_(device), path_(std::move(path)) {}
    ~HidapiDevice() override { hid_close(device_); }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    int getReportDescriptor(uint8_t* buf, size_t size) override {
        return platformReportDescriptor(path_, buf, size);
    }
    int write(const uint8_t* data, size_t length) override { return hid_write(device_, data, length); }
    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        return hid_read_timeout(device_, data, length, milliseconds);
    }

private:
    hid_device* device_;
    std::string path_;
};

}  // namespace

std::vector<HidDeviceInfo> hidapiEnumerate() {
    std::vector<HidDeviceInfo> list;
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* it = all; it != nullptr; it = it->next) {
        HidDeviceInfo info;
        info.path = textOrEmpty(it->path);
        info.vendorId = it->vendor_id;
        info.productId = it->product_id;
        info.usagePage = it->usage_page;
        info.releaseNumber = it->release_number;
        info.serialNumber = utf8FromWide(it->serial_number);  // hidapi speaks wide, the tool UTF-8
        info.portChain = hidNodePortChain(info.path);
        list.push_back(std::move(info));
    }
    hid_free_enumeration(all);
    return list;
}

std::unique_ptr<HidDevice> hidapiOpen(const std::string& path) {
    hid_device* device = hid_open_path(path.c_str());
    if (device == nullptr) {
        return nullptr;
    }
    return std::make_unique<HidapiDevice>(device, path);
}

}  // namespace iap
