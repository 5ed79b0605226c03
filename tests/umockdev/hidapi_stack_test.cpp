// The harness proven with the machine's own stacks, called directly: hidapi
// (hidraw back-end, through libudev and the node) and libusb (through sysfs).
#include <gtest/gtest.h>

#include <hidapi.h>
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "shared_testbed.h"

namespace iap::umock {
namespace {

// Vendor page 0xFF00, report ID 0x01, 63-byte input and output reports.
const std::vector<uint8_t> kVendorDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x02, 0x15, 0x00,
    0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02, 0x09, 0x03, 0x95, 0x3F,
    0x91, 0x02, 0xC0};

// Answers each output report with its bytes reversed after the report ID,
// repeated `copies` times.
Responder echo(int copies = 1) {
    return [copies](const uint8_t* data, size_t length) {
        Report reply(data, data + length);
        std::reverse(reply.begin() + 1, reply.end());
        return std::vector<Report>(static_cast<size_t>(copies), reply);
    };
}

UsbHidIdentity identity(uint16_t pid = 0x5678) {
    UsbHidIdentity id;
    id.productId = pid;
    id.reportDescriptor = kVendorDescriptor;
    return id;
}

struct Found {
    std::string path;
    unsigned short vid = 0, pid = 0, release = 0, usagePage = 0;
    int interface = -1;
    std::wstring serial;
};

std::vector<Found> enumerateAll() {
    std::vector<Found> out;
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* it = all; it != nullptr; it = it->next) {
        Found f;
        f.path = it->path;
        f.vid = it->vendor_id;
        f.pid = it->product_id;
        f.release = it->release_number;
        f.usagePage = it->usage_page;
        f.interface = it->interface_number;
        f.serial = it->serial_number ? it->serial_number : L"";
        out.push_back(f);
    }
    hid_free_enumeration(all);
    return out;
}

Report outputReport(uint8_t seed) {
    Report r(64);
    r[0] = 0x01;
    for (size_t i = 1; i < r.size(); ++i) {
        r[i] = static_cast<uint8_t>(seed + i);
    }
    return r;
}

class HidapiStack : public TestbedTest {};

TEST_F(HidapiStack, EnumerationShowsTheFakeDeviceAsUsbHid) {
    UsbHidIdentity id = identity();
    id.bcdDevice = 0x0213;
    id.serial = "SN42";
    FakeHidraw& node = plug(id, echo());
    const std::vector<Found> found = enumerateAll();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, node.nodePath());
    EXPECT_EQ(found[0].vid, 0x1234);
    EXPECT_EQ(found[0].pid, 0x5678);
    EXPECT_EQ(found[0].release, 0x0213);
    EXPECT_EQ(found[0].usagePage, 0xFF00);  // parsed from sysfs report_descriptor
    EXPECT_EQ(found[0].interface, 0);
    EXPECT_EQ(found[0].serial, L"SN42");
}

TEST_F(HidapiStack, OpenGivesDescriptorAndDeviceInfoThroughTheRelabelledNode) {
    FakeHidraw& node = plug(identity(), echo());
    hid_device* dev = hid_open_path(node.nodePath().c_str());
    ASSERT_NE(dev, nullptr) << "hid_open_path needs HIDIOCGRDESCSIZE/HIDIOCGRDESC";
    // hid_get_device_info goes from fstat() of the fd to /sys/dev/char.
    hid_device_info* info = hid_get_device_info(dev);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->vendor_id, 0x1234);
    EXPECT_EQ(info->product_id, 0x5678);
    EXPECT_EQ(info->usage_page, 0xFF00);
    hid_close(dev);
    EXPECT_EQ(node.clientsConnected(), 1u);
}

TEST_F(HidapiStack, WriteAndReadKeepReportBoundaries) {
    FakeHidraw& node = plug(identity(), echo(3));
    hid_device* dev = hid_open_path(node.nodePath().c_str());
    ASSERT_NE(dev, nullptr);
    const Report out = outputReport(7);
    ASSERT_EQ(hid_write(dev, out.data(), out.size()), 64);
    Report expected = out;
    std::reverse(expected.begin() + 1, expected.end());
    // Three queued replies come back as three reads of one report each,
    // even with a larger buffer.
    for (int i = 0; i < 3; ++i) {
        uint8_t in[128] = {};
        ASSERT_EQ(hid_read_timeout(dev, in, sizeof in, 1000), 64) << "read " << i;
        EXPECT_EQ(Report(in, in + 64), expected);
    }
    uint8_t in[64];
    EXPECT_EQ(hid_read_timeout(dev, in, sizeof in, 50), 0) << "nothing more queued";
    EXPECT_EQ(node.outputReports(), 1u);
    EXPECT_EQ(node.inputReportsRead(), 3u);
    hid_close(dev);
}

TEST_F(HidapiStack, BlockingReadIsAnsweredWhenAReportArrives) {
    FakeHidraw& node = plug(identity(), nullptr);
    hid_device* dev = hid_open_path(node.nodePath().c_str());
    ASSERT_NE(dev, nullptr);
    std::thread late([&node] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        node.deliver(Report(64, 0x5A));
    });
    uint8_t in[64] = {};
    EXPECT_EQ(hid_read(dev, in, sizeof in), 64);  // no poll: the read waits
    EXPECT_EQ(in[10], 0x5A);
    late.join();
    hid_close(dev);
}

TEST_F(HidapiStack, UnplugFailsReadsAndWritesAndReplugGetsANewNode) {
    FakeHidraw& first = plug(identity(), nullptr);
    hid_device* dev = hid_open_path(first.nodePath().c_str());
    ASSERT_NE(dev, nullptr);
    std::thread unplugger([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        testbed().unplug(first);
    });
    uint8_t in[64];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hid_read_timeout(dev, in, sizeof in, 3000), -1) << "hang-up seen by poll()";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    unplugger.join();
    const Report out = outputReport(1);
    EXPECT_EQ(hid_write(dev, out.data(), out.size()), -1);
    hid_close(dev);
    EXPECT_TRUE(enumerateAll().empty());
    EXPECT_EQ(hid_open_path(first.nodePath().c_str()), nullptr);

    FakeHidraw& second = plug(identity(0x5679), echo());
    EXPECT_NE(second.nodePath(), first.nodePath());
    const std::vector<Found> found = enumerateAll();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, second.nodePath());
    EXPECT_EQ(found[0].pid, 0x5679);
    hid_device* again = hid_open_path(second.nodePath().c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(hid_write(again, out.data(), out.size()), 64);
    EXPECT_EQ(hid_read_timeout(again, in, sizeof in, 1000), 64);
    hid_close(again);
}

TEST_F(HidapiStack, LibusbReadsTheDeviceDescriptorFromSysfs) {
    UsbHidIdentity id = identity();
    id.bcdDevice = 0x0107;
    plug(id, nullptr);
    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    ASSERT_EQ(count, 1);
    libusb_device_descriptor desc{};
    ASSERT_EQ(libusb_get_device_descriptor(list[0], &desc), 0);
    EXPECT_EQ(desc.idVendor, 0x1234);
    EXPECT_EQ(desc.idProduct, 0x5678);
    EXPECT_EQ(desc.bcdDevice, 0x0107);
    EXPECT_EQ(libusb_get_bus_number(list[0]), 1);
    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(list[0], &config), 0);
    EXPECT_EQ(config->interface[0].altsetting[0].bInterfaceClass, LIBUSB_CLASS_HID);
    libusb_free_config_descriptor(config);
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);
}

TEST_F(HidapiStack, ThreeThousandReportRoundTrips) {
    FakeHidraw& node = plug(identity(), echo());
    hid_device* dev = hid_open_path(node.nodePath().c_str());
    ASSERT_NE(dev, nullptr);
    const auto start = std::chrono::steady_clock::now();
    int bad = 0;
    for (int i = 0; i < 3000; ++i) {
        const Report out = outputReport(static_cast<uint8_t>(i));
        uint8_t in[64];
        if (hid_write(dev, out.data(), out.size()) != 64 ||
            hid_read_timeout(dev, in, sizeof in, 1000) != 64 || in[63] != out[1]) {
            ++bad;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("3000 report round trips over umockdev: %.2f s\n", seconds);
    EXPECT_EQ(bad, 0);
    hid_close(dev);
}

}  // namespace
}  // namespace iap::umock
