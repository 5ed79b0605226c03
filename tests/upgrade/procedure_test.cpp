// The upgrade and switch-to-boot procedures and the device information query
// against the simulated bus: their UI events and log lines, in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "upgrade/device_info.h"
#include "upgrade/log_capture.h"
#include "upgrade/sim_rig.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_procedure.h"

namespace iap {
namespace {

using ::testing::ElementsAre;
using ::testing::IsSupersetOf;
using testing::LogCapture;
using testing::Rig;

// The log lines other than the progress callback's.
std::vector<std::string> stageLines(LogCapture& log) {
    std::vector<std::string> out;
    for (const auto& line : log.lines()) {
        if (line.rfind("onbusiness", 0) != 0 && line.rfind("SearchDevice", 0) != 0) out.push_back(line);
    }
    return out;
}

void runUpgrade(Rig& rig) {
    ::testing::internal::CaptureStdout();
    IAPProcess(rig.ctx);
    ::testing::internal::GetCapturedStdout();
}

TEST(IAPProcess, ReferenceImagePassesAndTheFlashHoldsThePayload) {
    Rig rig(144608, 256);
    LogCapture log;
    auto device = rig.attachBootloader();
    runUpgrade(rig);

    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:PASS", "M:PASS"));
    EXPECT_THAT(stageLines(log),
                ElementsAre("IAPProcess Open Device", "IAPProcess Open Success", "IAPProcess PASS"));
    // 565 blocks, the last of 224 bytes.
    const auto commands = device->commands();
    ASSERT_EQ(commands.size(), 567u);
    EXPECT_EQ(commands[565].pack.size(), 224u + 11u);
    auto flash = device->flash();
    flash.resize(rig.payload.size());
    EXPECT_EQ(flash, rig.payload);
    EXPECT_EQ(rig.ctx.progress_limit.load(), 144608u);
    EXPECT_EQ(rig.ctx.progress_pos.load(), 144608u);
    EXPECT_EQ(log.count("onbusinessOk progress_pos.144608"), 2u);
    EXPECT_EQ(device->openHandles(), 0u);
    EXPECT_FALSE(rig.connection.record.isOpen());
}

TEST(IAPProcess, NoDevicePostsOpenFailedOnly) {
    Rig rig;
    LogCapture log;
    rig.state.settings.searchDeviceTimeout = 50;
    runUpgrade(rig);
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Failed!"));
    EXPECT_THAT(stageLines(log), ElementsAre("IAPProcess Open Device", "IAPProcess Open Failed"));
    EXPECT_EQ(rig.ctx.progress_pos.load(), 100u);  // untouched
}

TEST(IAPProcess, DeviceStatusGivesTheCodeAndItsMessage) {
    Rig rig;
    LogCapture log;
    auto device = rig.attachBootloader();
    device->addFault(sim::Fault::statusAt(0xA0, 0x01));
    runUpgrade(rig);
    const std::string text = "Upgrade error, please try again.\nError code:0x01\nunknown error";
    EXPECT_THAT(rig.drainTexts(),
                ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:" + text, "M:" + text));
    EXPECT_THAT(stageLines(log), ElementsAre("IAPProcess Open Device", "IAPProcess Open Success",
                                             "IAPProcess Upgrade error, please try again " + text));
    EXPECT_EQ(device->openHandles(), 0u);

    Rig rig2;
    auto device2 = rig2.attachBootloader();
    device2->addFault(sim::Fault::statusAt(0xA1, 0xE2, 1));
    runUpgrade(rig2);
    EXPECT_THAT(rig2.drainTexts(),
                ::testing::Contains("M:Upgrade error, please try again.\nError code:0xE2\nCRC error"));
    EXPECT_EQ(rig2.ctx.progress_pos.load(), 256u);
}

TEST(IAPProcess, RetryLimitReportsATimeoutWithoutALogLine) {
    Rig rig;
    LogCapture log;
    rig.state.settings.retryNum = 0;
    auto device = rig.attachBootloader();
    runUpgrade(rig);
    EXPECT_THAT(rig.drainTexts(),
                ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:Timeout error, please try again.",
                            "M:Timeout error, please try again."));
    EXPECT_THAT(stageLines(log), ElementsAre("IAPProcess Open Device", "IAPProcess Open Success"));
    EXPECT_EQ(device->openHandles(), 0u);
}

struct FaultCase {
    sim::FaultKind kind;
    const char* text;
};

class IAPProcessFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(IAPProcessFault, ShowsTheExceptionTextAndClosesTheDevice) {
    Rig rig;
    LogCapture log;
    auto device = rig.attachBootloader();
    device->addFault(sim::Fault::atCommand(GetParam().kind, 0xA1, 1));
    runUpgrade(rig);
    const std::string text = GetParam().text;
    EXPECT_THAT(rig.drainTexts(),
                ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:" + text, "M:" + text));
    EXPECT_THAT(stageLines(log), ElementsAre("IAPProcess Open Device", "IAPProcess Open Success",
                                             "IAPProcess e.what() " + text));
    EXPECT_EQ(device->openHandles(), 0u);
    EXPECT_FALSE(rig.connection.record.isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    EveryFault, IAPProcessFault,
    ::testing::Values(FaultCase{sim::FaultKind::NoReply, "Unknown exception"},
                      FaultCase{sim::FaultKind::WrongMarker, "Unknown exception"},
                      FaultCase{sim::FaultKind::WrongChecksum, "Unknown exception"},
                      FaultCase{sim::FaultKind::WrongCrc, "Unknown exception"},
                      FaultCase{sim::FaultKind::CrcLowFirst, "Unknown exception"},
                      FaultCase{sim::FaultKind::WrongResponseCode, "Unknown exception"},
                      FaultCase{sim::FaultKind::OversizeLength, "Unknown exception"},
                      FaultCase{sim::FaultKind::ShortFirstPack, "Unknown exception"},
                      FaultCase{sim::FaultKind::HugeDataLength, "Unknown exception"},
                      FaultCase{sim::FaultKind::Overshoot, "Unknown exception"},
                      FaultCase{sim::FaultKind::Disconnect, "hid_get_report failed"}));

TEST(IAPProcess, UnrunnableImageIsReportedWithoutLookingForADevice) {
    Rig rig;
    LogCapture log;
    rig.state.firmware[66] = 0;  // block size 0
    rig.state.firmware[67] = 0;
    auto device = rig.attachBootloader();
    runUpgrade(rig);
    const auto texts = rig.drainTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "T:Firmware block size 0 is outside 1 to 8192.");
    EXPECT_EQ(texts[1], "M:Firmware block size 0 is outside 1 to 8192.");
    EXPECT_EQ(device->openCount(), 0u);
}

TEST(ToBootProcess, AcceptedSwitchPassesWithAFullBar) {
    Rig rig;
    LogCapture log;
    auto device = rig.attachApplication();
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(ToBootProcess(rig.ctx));
    ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:PASS", "M:PASS"));
    EXPECT_THAT(stageLines(log), ElementsAre("start ToBoot Open Device...", "ToBoot Open Success..."));
    EXPECT_EQ(log.count("onbusinessToBoot progress_limit.1000"), 1u);
    EXPECT_EQ(rig.ctx.progress_pos.load(), 1000u);
    EXPECT_EQ(rig.ctx.progress_limit.load(), 1000u);
    EXPECT_EQ(device->openHandles(), 0u);
    EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
}

TEST(ToBootProcess, RejectingDeviceGetsTheCommandRetryNumTimes) {
    Rig rig;
    LogCapture log;
    rig.state.settings.retryNum = 4;
    auto device = rig.attachApplication();
    sim::Fault reject = sim::Fault::statusAt(0xC0, 0xE9);
    reject.repeat = true;
    device->addFault(reject);
    ::testing::internal::CaptureStdout();
    ToBootProcess(rig.ctx);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(device->commands().size(), 4u);
    for (const auto& c : device->commands()) EXPECT_EQ(c.code, 0xC0);
    EXPECT_THAT(rig.drainTexts(),
                ElementsAre("T:Open Device...", "T:Open Success! BOOT", "T:Timeout error, please try again.",
                            "M:Timeout error, please try again."));
    EXPECT_THAT(stageLines(log), ElementsAre("start ToBoot Open Device...", "ToBoot Open Success...",
                                             "Timeout error, please try again."));
    EXPECT_EQ(device->openHandles(), 0u);
}

TEST(ToBootProcess, NoDeviceAndExceptionTexts) {
    {
        Rig rig;
        LogCapture log;
        rig.state.settings.searchDeviceTimeout = 0;
        ToBootProcess(rig.ctx);
        EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Failed!"));
        EXPECT_THAT(stageLines(log), ElementsAre("start ToBoot Open Device...", "ToBoot Open Failed..."));
    }
    {
        Rig rig;
        LogCapture log;
        auto device = rig.attachApplication();
        device->setTimeScale(1.0);  // still there when the read times out
        device->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, 0xC0));
        ::testing::internal::CaptureStdout();
        ToBootProcess(rig.ctx);
        ::testing::internal::GetCapturedStdout();
        EXPECT_THAT(rig.drainTexts(), ElementsAre("T:Open Device...", "T:Open Success! BOOT",
                                                  "T:Unknown exception", "M:Unknown exception"));
        EXPECT_THAT(stageLines(log), ElementsAre("start ToBoot Open Device...", "ToBoot Open Success...",
                                                 "e.what()   : Unknown exception"));
        EXPECT_EQ(device->openHandles(), 0u);
    }
}

TEST(ToBootProcess, RefusesWhileAWorkerTaskHoldsTheDevice) {
    for (int32_t held : {BUSY_DEVINFO, BUSY_UPGRADE, BUSY_AUTO_WAITING, BUSY_AUTO_ATTEMPT}) {
        Rig rig;
        LogCapture log;
        auto device = rig.attachApplication();
        rig.ctx.busy.store(held);
        EXPECT_FALSE(ToBootProcess(rig.ctx));
        EXPECT_TRUE(rig.drainTexts().empty());
        EXPECT_EQ(device->openCount(), 0u);
        EXPECT_EQ(rig.ctx.busy.load(), held);
    }
}

TEST(DeviceInfoThread, ShowsTheFirstListedDeviceMatchingOneEntry) {
    Rig rig;
    LogCapture log;
    // Vendor of one entry, product of none: not found.
    sim::BootloaderConfig other;
    other.vendorId = 0x1234;
    other.appProductId = 0x1111;
    other.mode = sim::Mode::Application;
    rig.bus.attach(other);
    sim::BootloaderConfig first;
    first.mode = sim::Mode::Application;
    first.bcdDevice = 0x0100;
    rig.bus.attach(first);
    rig.attachBootloader();

    DeviceInfoThread(rig.ctx);
    EXPECT_THAT(rig.drainTexts(), ElementsAre("T:...", "M:...", "D:1234 5678 0100", "T:OK", "M:OK"));
    EXPECT_THAT(log.lines(), ElementsAre("DeviceInfoThread", "DeviceInfoThread OK"));
    EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
}

TEST(DeviceInfoThread, FailuresPostFailed) {
    {
        Rig rig;
        LogCapture log;
        DeviceInfoThread(rig.ctx);
        EXPECT_THAT(rig.drainTexts(), ElementsAre("T:...", "M:...", "T:FAILED", "M:FAILED"));
        EXPECT_THAT(log.lines(), ElementsAre("DeviceInfoThread", "DeviceInfoThread FAILED"));
    }
    {
        Rig rig;
        LogCapture log;
        rig.attachBootloader();
        rig.bus.setUsbFails(true);
        DeviceInfoThread(rig.ctx);
        EXPECT_THAT(rig.drainTexts(), ElementsAre("T:...", "M:...", "T:FAILED", "M:FAILED"));
        EXPECT_THAT(log.lines(),
                    ElementsAre("DeviceInfoThread", "DeviceInfoThread FAILED.failed to init libusb."));
        EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
    }
    {
        Rig rig;
        LogCapture log;
        rig.ctx.busy.store(BUSY_UPGRADE);
        DeviceInfoThread(rig.ctx);
        EXPECT_TRUE(rig.drainTexts().empty());
        EXPECT_TRUE(log.lines().empty());
        EXPECT_EQ(rig.ctx.busy.load(), BUSY_UPGRADE);
    }
}

}  // namespace
}  // namespace iap
