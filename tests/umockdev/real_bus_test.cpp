// The machine's own stacks against fake hidraw nodes: first plain hidapi, for
// what a hidraw node must do that the product tests cannot see (one report
// per read, a hang-up ending a waiting read), then discovery and the upgrade
// procedure on the real bus (makeRealBus) against the simulated bootloader.
// What the real bus adds to the simulated one: descriptors from sysfs,
// hidapi's write and poll()/read(), hang-ups seen by poll(), libudev
// enumeration of devices that come and go. Unlike the end-to-end scripts,
// these also run under the sanitizers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <hidapi.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bytes/firmware_image.h"
#include "emulated_device.h"
#include "link/connection.h"
#include "link/discovery.h"
#include "link/real_bus.h"
#include "package/app_state.h"
#include "sim/sim_fault.h"
#include "testbed.h"
#include "ui/event_reporter.h"
#include "ui/ui_event_queue.h"
#include "upgrade/tool_context.h"
#include "upgrade/upgrade_procedure.h"

namespace iap::umock {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

Testbed& testbed() {
    static Testbed bed;  // one per process
    return bed;
}

// Each test plugs its own devices; they are unplugged after it.
class RealBus : public ::testing::Test {
protected:
    FakeHidraw& plug(const std::vector<uint8_t>& descriptor, Responder responder = nullptr) {
        UsbHidIdentity id;
        id.productId = kBootProductId;
        id.reportDescriptor = descriptor;
        plugged_.push_back(&testbed().plug(id, std::move(responder)));
        return *plugged_.back();
    }
    void TearDown() override {
        for (FakeHidraw* node : plugged_) testbed().unplug(*node);
    }
    std::vector<FakeHidraw*> plugged_;
};

// Descriptors of this process open on the node's PTY, not counting the
// node's own end while it is plugged.
int clientFdsOn(const FakeHidraw& node) {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dirent* entry = ::readdir(dir)) {
        struct stat st {};
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != ::dirfd(dir) && ::fstat(fd, &st) == 0 &&
            S_ISCHR(st.st_mode) && st.st_rdev == node.rdev()) {
            ++count;
        }
    }
    ::closedir(dir);
    return node.isGone() ? count : count - 1;
}

// A tool context on the real bus with a package for the emulated device.
struct Rig {
    explicit Rig(size_t payloadSize = 20000, uint16_t blockSize = 256) : bus(makeRealBus()) {
        payload.resize(payloadSize);
        uint32_t x = 0x2468ACE1u;
        for (uint8_t& b : payload) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
        ImageHeaderFields fields;
        fields.blockSize = blockSize;
        fields.swVersion = "V2.3.4";
        state.firmware = buildFirmwareImage(fields, payload);
        state.deviceIds = {{kReportId, kBootProductId, kVendorId}, {kReportId, kAppProductId, kVendorId}};
        state.settings.retryNum = 3;
        state.settings.switchDelay = 500;
        state.settings.searchDeviceTimeout = 3000;
        state.settings.readAckTimeout = 300;
        bus->init();
        ctx.package = &state;
        ctx.bus = bus.get();
        ctx.reporter = &reporter;
        ctx.connection = &connection;
    }
    ~Rig() {
        connection.record.close();
        bus->exit();
    }
    // One upgrade attempt; "T:text" for EVENT_TIPS, "M:text" for EVENT_MSG.
    std::vector<std::string> upgrade() {
        ::testing::internal::CaptureStdout();
        IAPProcess(ctx);
        ::testing::internal::GetCapturedStdout();
        std::vector<std::string> out;
        while (events.pending() > 0) {
            const UIEvent e = events.take();
            out.push_back((e.eventType == EVENT_TIPS ? "T:" : "M:") + e.message);
        }
        return out;
    }

    std::vector<uint8_t> payload;
    AppState state;
    std::unique_ptr<DeviceBus> bus;
    UIEventQueue events;
    EventReporter reporter{events};
    DeviceConnection connection;
    ToolContext ctx;
};

TEST_F(RealBus, HidapiReadsOneReportAtATimeAndABlockingReadWaitsForOne) {
    // Each output report is answered three times, reversed after the ID.
    FakeHidraw& node = plug(sim::vendorDescriptor(kReportId), [](const uint8_t* data, size_t length) {
        Report reply(data, data + length);
        std::reverse(reply.begin() + 1, reply.end());
        return std::vector<Report>(3, reply);
    });
    hid_device* dev = hid_open_path(node.nodePath().c_str());
    ASSERT_NE(dev, nullptr) << "hid_open_path needs HIDIOCGRDESCSIZE";
    Report out(64);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(hid_write(dev, out.data(), out.size()), 64);
    Report expected = out;
    std::reverse(expected.begin() + 1, expected.end());
    for (int i = 0; i < 3; ++i) {
        uint8_t in[128] = {};
        ASSERT_EQ(hid_read_timeout(dev, in, sizeof in, 1000), 64) << "read " << i;
        EXPECT_EQ(Report(in, in + 64), expected);
    }
    uint8_t in[64] = {};
    EXPECT_EQ(hid_read_timeout(dev, in, sizeof in, 50), 0) << "nothing more queued";

    std::thread late([&node] {
        std::this_thread::sleep_for(100ms);
        node.deliver(Report(64, 0x5A));
    });
    EXPECT_EQ(hid_read(dev, in, sizeof in), 64);  // blocking: no poll(), the read waits
    EXPECT_EQ(in[10], 0x5A);
    late.join();
    hid_close(dev);
}

// A client that opens a node at its "add" uevent, as Wine's winebus does,
// finds the node's own handler there: the descriptor size at once.
TEST_F(RealBus, AClientThatOpensANodeAtItsAddUeventReadsItsDescriptor) {
    testbed();  // its uevents reach the sockets made from here on
    udev* context = udev_new();
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    ASSERT_NE(monitor, nullptr);
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    ASSERT_EQ(udev_monitor_enable_receiving(monitor), 0);
    int size = -2;
    std::thread client([&] {  // the only hidraw uevent here is the add
        pollfd ready{udev_monitor_get_fd(monitor), POLLIN, 0};
        while (size == -2 && ::poll(&ready, 1, 5000) > 0) {
            if (udev_device* device = udev_monitor_receive_device(monitor)) {
                const int fd = ::open(udev_device_get_devnode(device), O_RDWR | O_NOCTTY | O_CLOEXEC);
                if (fd < 0 || ::ioctl(fd, HIDIOCGRDESCSIZE, &size) != 0) size = -1;
                if (fd >= 0) ::close(fd);
                udev_device_unref(device);
            }
        }
    });
    plug(sim::vendorDescriptor(kReportId));
    client.join();
    udev_monitor_unref(monitor);
    udev_unref(context);
    EXPECT_EQ(size, static_cast<int>(sim::vendorDescriptor(kReportId).size()));
}

TEST_F(RealBus, UnplugEndsAWaitingReadAtOnceAndFailsWrites) {
    FakeHidraw& node = plug(sim::vendorDescriptor(kReportId));
    hid_device* dev = hid_open_path(node.nodePath().c_str());
    ASSERT_NE(dev, nullptr);
    std::thread unplugger([&] {
        std::this_thread::sleep_for(100ms);
        testbed().unplug(node);
    });
    uint8_t report[64] = {kReportId};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hid_read_timeout(dev, report, sizeof report, 3000), -1) << "hang-up seen by poll()";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    unplugger.join();
    EXPECT_EQ(hid_write(dev, report, sizeof report), -1);
    hid_close(dev);
    EXPECT_EQ(hid_open_path(node.nodePath().c_str()), nullptr);
}

TEST_F(RealBus, DiscoveryChoosesByTheSysfsDescriptorAndClosesTheOthers) {
    Rig rig;
    FakeHidraw& otherPage = plug(descriptorWithUsagePage(0xFF01));
    FakeHidraw& otherReport = plug(sim::vendorDescriptor(0x02));
    FakeHidraw& noReport = plug(descriptorWithoutReportId());
    FakeHidraw& right = plug(sim::vendorDescriptor(kReportId));

    DeviceRecord record;
    StopSignal cancelled;
    ::testing::internal::CaptureStdout();
    SearchDevice(*rig.bus, rig.state.deviceIds, 2000, record, cancelled);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(record.isOpen());
    EXPECT_EQ(record.reportId, kReportId);
    EXPECT_EQ(record.usagePage, 0xFF00);
    EXPECT_THAT(out, HasSubstr("usage: FF01"));
    EXPECT_THAT(out, HasSubstr("reportId: 0002"));
    for (const FakeHidraw* node : {&otherPage, &otherReport, &noReport}) {
        EXPECT_EQ(clientFdsOn(*node), 0) << node->nodePath();
    }
    EXPECT_EQ(clientFdsOn(right), 1);
    record.close();
    EXPECT_EQ(clientFdsOn(right), 0);
}

TEST_F(RealBus, UnansweredReportTimesOutThroughPoll) {
    Rig rig(2000);
    rig.state.settings.readAckTimeout = 150;
    EmulatedDevice device(testbed(), deviceConfig(sim::Mode::Bootloader));
    device.addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, 0xA1, 2));
    EXPECT_THAT(rig.upgrade(), ElementsAre("T:Open Device...", "T:Open Success! BOOT",
                                           "T:Unknown exception", "M:Unknown exception"));
    EXPECT_FALSE(rig.connection.record.isOpen());
}

// hidraw queues every report the device sends: one too many (the last block
// answered twice) is waiting when the finish goes out, and must not be taken
// for the finish's answer, which rejects the image.
TEST_F(RealBus, AReplySentTwiceNeverTurnsARejectedFinishIntoAPass) {
    Rig rig(2000);  // 8 blocks of 256
    EmulatedDevice device(testbed(), deviceConfig(sim::Mode::Bootloader));
    device.addFault(sim::Fault::atCommand(sim::FaultKind::AnsweredTwice, 0xA1, 7));
    device.addFault(sim::Fault::statusAt(0xA4, 0xF5));
    const std::string error = "Upgrade error, please try again.\nError code:0xF5\n[HEADER] error: CHECK INFO";
    EXPECT_THAT(rig.upgrade(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:" + error, "M:" + error));
    EXPECT_FALSE(device.state().upgradePassed);
}

TEST_F(RealBus, UnplugMidUpgradeFailsTheReadThenTheNextAttemptPassesByteExact) {
    Rig rig(60000, 1024);
    EmulatedDevice device(testbed(), deviceConfig(sim::Mode::Bootloader));
    device.addFault(sim::Fault::atCommand(sim::FaultKind::Disconnect, 0xA1, 20));
    EXPECT_THAT(rig.upgrade(), ElementsAre("T:Open Device...", "T:Open Success! BOOT",
                                           "T:hid_get_report failed", "M:hid_get_report failed"));
    EXPECT_FALSE(rig.connection.record.isOpen());
    ASSERT_TRUE(device.waitForAbsence(1s));

    device.replug();
    EXPECT_THAT(rig.upgrade(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:PASS", "M:PASS"));
    EXPECT_EQ(rig.reporter.progress_pos.load(), rig.payload.size());
    // The restart after the finish: back as the application, bcdDevice from
    // the package's "V2.3.4", under a third node.
    ASSERT_TRUE(device.waitForMode(sim::Mode::Application, 3s));
    EmulatedDevice::State s = device.state();
    s.flash.resize(rig.payload.size());
    EXPECT_EQ(s.flash, rig.payload);
    EXPECT_EQ(s.productId, kAppProductId);
    EXPECT_EQ(s.bcdDevice, 0x0234);
    EXPECT_EQ(s.plugs, 3u);
}

}  // namespace
}  // namespace iap::umock

int main(int argc, char** argv) {
    // Listing the tests at build time needs no testbed.
    const bool listing = std::any_of(argv + 1, argv + argc, [](const char* arg) {
        return std::string(arg) == "--gtest_list_tests";
    });
    if (!listing && iap::umock::enterTestbedProcess(argv) != 0) return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
