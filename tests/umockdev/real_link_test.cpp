// The device link, the procedures and the device information query on the
// real bus (makeRealBus: hidapi hidraw + libusb), against the simulated
// bootloader model behind fake hidraw nodes. What this adds to the simulated
// bus: real report descriptors read from sysfs, hidapi's write and
// poll()/read() path, a hang-up seen by poll(), device numbers, libudev
// enumeration and libusb's sysfs descriptors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulated_device.h"
#include "link/discovery.h"
#include "real_bus_rig.h"
#include "shared_testbed.h"
#include "sim/sim_fault.h"
#include "upgrade/device_info.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_procedure.h"

namespace iap::umock {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

constexpr uint8_t kCmdData = 0xA1;

// Runs a procedure with its standard-output diagnostics captured.
template <typename F>
void quietly(F&& procedure) {
    ::testing::internal::CaptureStdout();
    procedure();
    ::testing::internal::GetCapturedStdout();
}

std::vector<uint8_t> flashPrefix(EmulatedDevice& device, size_t size) {
    std::vector<uint8_t> flash = device.flash();
    flash.resize(size);
    return flash;
}

class RealBusDiscovery : public TestbedTest {};

TEST_F(RealBusDiscovery, ChoosesByUsagePageAndReportIdOfTheRealDescriptor) {
    RealBusRig rig;
    UsbHidIdentity id;
    id.productId = kBootProductId;
    id.reportDescriptor = descriptorWithUsagePage(0xFF01, kReportId);
    FakeHidraw& otherPage = plug(id, nullptr);
    id.reportDescriptor = sim::vendorDescriptor(0x02);
    FakeHidraw& otherReport = plug(id, nullptr);
    id.reportDescriptor = descriptorWithoutReportId();
    FakeHidraw& noReport = plug(id, nullptr);
    id.reportDescriptor = sim::vendorDescriptor(kReportId);
    FakeHidraw& right = plug(id, nullptr);

    DeviceRecord record;
    std::atomic<bool> cancelled{false};
    quietly([&] { SearchDevice(*rig.bus, rig.state.deviceIds, 2000, record, cancelled); });
    ASSERT_TRUE(record.isOpen());
    EXPECT_EQ(record.reportId, kReportId);
    EXPECT_EQ(record.usagePage, 0xFF00);
    // The candidates were opened (their descriptors read) and closed again.
    for (const FakeHidraw* node : {&otherPage, &otherReport, &noReport}) {
        EXPECT_GE(node->clientsConnected(), 1u) << node->nodePath();
        EXPECT_EQ(clientFdsOn(*node), 0) << node->nodePath();
    }
    EXPECT_EQ(clientFdsOn(right), 1);
    const uint8_t report[64] = {kReportId, 0xAA};
    EXPECT_EQ(record.handle->write(report, sizeof report), 64);
    EXPECT_EQ(right.outputReports(), 1u);
    record.close();
    EXPECT_EQ(clientFdsOn(right), 0);
}

TEST_F(RealBusDiscovery, OnlyWrongDescriptorsGiveOpenFailed) {
    RealBusRig rig;
    rig.state.settings.searchDeviceTimeout = 700;
    UsbHidIdentity id;
    id.productId = kBootProductId;
    id.reportDescriptor = descriptorWithUsagePage(0x0001, kReportId);
    plug(id, nullptr);
    id.reportDescriptor = sim::vendorDescriptor(0x03);
    plug(id, nullptr);
    quietly([&] { IAPProcess(rig.ctx); });
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Failed!"));
}

TEST_F(RealBusDiscovery, DeviceAttachedDuringTheSearchIsFoundByALaterPass) {
    RealBusRig rig;
    std::unique_ptr<EmulatedDevice> device;
    std::thread attach([&] {
        std::this_thread::sleep_for(1200ms);
        device = std::make_unique<EmulatedDevice>(testbed(), deviceConfig(sim::Mode::Bootloader));
    });
    DeviceRecord record;
    std::atomic<bool> cancelled{false};
    const auto start = std::chrono::steady_clock::now();
    quietly([&] { SearchDevice(*rig.bus, rig.state.deviceIds, 5000, record, cancelled); });
    attach.join();
    EXPECT_TRUE(record.isOpen());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1200ms);
    record.close();
}

class RealBusUpgrade : public TestbedTest {};

TEST_F(RealBusUpgrade, WholeUpgradeIsByteExactAndTheDeviceReturnsAsTheApplication) {
    RealBusRig rig(60000, 1024, "V2.3.4");
    EmulatedDevice device(testbed(), deviceConfig(sim::Mode::Bootloader));
    const auto start = std::chrono::steady_clock::now();
    quietly([&] { IAPProcess(rig.ctx); });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("upgrade of %zu bytes in %zu reports over umockdev: %.2f s\n", rig.payload.size(),
                device.outputReports(), seconds);

    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:PASS", "M:PASS"));
    EXPECT_TRUE(device.upgradePassed());
    EXPECT_EQ(flashPrefix(device, rig.payload.size()), rig.payload);
    EXPECT_EQ(rig.ctx.progress_pos.load(), rig.payload.size());
    EXPECT_FALSE(rig.connection.record.isOpen());
    // 58 blocks of 1024 + 11 bytes (19 reports each), the last of 608 + 11
    // (12 reports), the header (3) and the finish (1).
    EXPECT_EQ(device.outputReports(), 58u * 19u + 12u + 3u + 1u);
    ASSERT_TRUE(device.waitForMode(sim::Mode::Application, 3s));
    EXPECT_EQ(device.productId(), kAppProductId);
    EXPECT_EQ(device.bcdDevice(), 0x0234);
}

TEST_F(RealBusUpgrade, UnplugMidTransferGivesTheReadFailureAndTheNextAttemptPasses) {
    RealBusRig rig(20000, 256);
    EmulatedDevice device(testbed(), deviceConfig(sim::Mode::Bootloader));
    device.addFault(sim::Fault::atCommand(sim::FaultKind::Disconnect, kCmdData, 20));
    const std::string firstNode = device.nodePath();
    quietly([&] { IAPProcess(rig.ctx); });
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT",
                                              "T:hid_get_report failed", "M:hid_get_report failed"));
    EXPECT_FALSE(rig.connection.record.isOpen());
    EXPECT_FALSE(device.present());
    EXPECT_FALSE(device.upgradePassed());

    device.replug();
    EXPECT_NE(device.nodePath(), firstNode);
    quietly([&] { IAPProcess(rig.ctx); });
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:PASS", "M:PASS"));
    EXPECT_EQ(flashPrefix(device, rig.payload.size()), rig.payload);
}

TEST_F(RealBusUpgrade, UnansweredReportTimesOutThroughPoll) {
    RealBusRig rig(2000, 256);
    rig.state.settings.readAckTimeout = 150;
    EmulatedDevice device(testbed(), deviceConfig(sim::Mode::Bootloader));
    device.addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, kCmdData, 2));
    quietly([&] { IAPProcess(rig.ctx); });
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT",
                                              "T:Unknown exception", "M:Unknown exception"));
    EXPECT_FALSE(rig.connection.record.isOpen());
    EXPECT_TRUE(device.present());
}

TEST_F(RealBusUpgrade, ToBootThenUpgradeThenDeviceInfoThroughLibusb) {
    RealBusRig rig(8000, 512, "V3.1.0");
    EmulatedDevice device(testbed(), deviceConfig(sim::Mode::Application, 0x0107));

    DeviceInfoThread(rig.ctx);
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:...", "M:...", "D:1234 5678 0107", "T:OK", "M:OK"));

    quietly([&] { ToBootProcess(rig.ctx); });
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:PASS", "M:PASS"));
    ASSERT_TRUE(device.waitForMode(sim::Mode::Bootloader, 3s));
    EXPECT_EQ(device.productId(), kBootProductId);

    quietly([&] { IAPProcess(rig.ctx); });
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:PASS", "M:PASS"));
    ASSERT_TRUE(device.waitForMode(sim::Mode::Application, 3s));
    EXPECT_EQ(device.plugCount(), 3u);

    DeviceInfoThread(rig.ctx);
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:...", "M:...", "D:1234 5678 0310", "T:OK", "M:OK"));
}

TEST_F(RealBusUpgrade, DeviceInfoWithoutAListedDeviceFails) {
    RealBusRig rig;
    sim::BootloaderConfig other = deviceConfig(sim::Mode::Application);
    other.vendorId = 0x4321;
    EmulatedDevice device(testbed(), other);
    DeviceInfoThread(rig.ctx);
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:...", "M:...", "T:FAILED", "M:FAILED"));
}

}  // namespace
}  // namespace iap::umock
