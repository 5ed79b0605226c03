// The upgrade and switch-to-boot procedures and the device information query
// against the simulated bus: their UI events and log lines, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "upgrade/device_info.h"
#include "upgrade/log_capture.h"
#include "upgrade/sim_rig.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_procedure.h"

namespace iap {
namespace {

using testing::LogCapture;
using testing::Rig;
using Texts = std::vector<std::string>;

// Runs f with its standard output swallowed, then tells what happened: the
// UI events ("T:", "M:", "D:") and the log lines ("L:") in the order they
// came, without discovery's lines.
template <typename F>
Texts story(Rig& rig, F f) {
    LogCapture log;
    log.setStamp([&rig] { return rig.events.pending(); });
    ::testing::internal::CaptureStdout();
    f();
    ::testing::internal::GetCapturedStdout();
    const Texts events = rig.drainTexts();
    const Texts lines = log.lines();
    const std::vector<size_t> stamps = log.stamps();
    Texts out;
    size_t next = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("SearchDevice", 0) == 0) continue;
        while (next < stamps[i]) out.push_back(events[next++]);
        out.push_back("L:" + lines[i]);
    }
    while (next < events.size()) out.push_back(events[next++]);
    return out;
}

bool isProgress(const std::string& line) { return line.rfind("L:onbusiness", 0) == 0; }

// The story without the progress callback's lines, unless `expected` shows them.
Texts asIn(const Texts& expected, Texts told) {
    if (std::none_of(expected.begin(), expected.end(), isProgress)) std::erase_if(told, isProgress);
    return told;
}

TEST(IAPProcess, ReferenceImagePassesAndTheFlashHoldsThePayload) {
    Rig rig(144608, 256);
    auto device = rig.attach();
    const Texts told = story(rig, [&] { IAPProcess(rig.ctx); });
    EXPECT_EQ(std::count(told.begin(), told.end(), "L:onbusinessOk progress_pos.144608"), 2);
    EXPECT_EQ(asIn({}, told),
              (Texts{"T:Open Device...", "L:IAPProcess Open Device", "T:Open Success! BOOT",
                     "L:IAPProcess Open Success", "T:PASS", "M:PASS", "L:IAPProcess PASS"}));
    const auto commands = device->commands();  // header, 565 blocks (the last of 224 bytes), finish
    ASSERT_EQ(commands.size(), 567u);
    EXPECT_EQ(commands[565].pack.size(), 224u + 11u);
    EXPECT_EQ(rig.flashOf(*device), rig.payload);
    EXPECT_EQ(rig.ctx.progress_limit.load(), 144608u);
    EXPECT_EQ(rig.ctx.progress_pos.load(), 144608u);
    EXPECT_EQ(device->openHandles(), 0u);
    EXPECT_FALSE(rig.connection.record.isOpen());
}

struct Outcome {
    const char* name;
    bool toBoot;
    void (*setup)(Rig&);
    Texts story;
    uint32_t progressPos;
    size_t commands;  // received by the devices on the bus
};

const std::string kError1 = "Upgrade error, please try again.\nError code:0x01\nunknown error";
const std::string kErrorE2 = "Upgrade error, please try again.\nError code:0xE2\nCRC error";
const std::string kTimeout = "Timeout error, please try again.";
const std::string kRefusal = "Firmware block size 0 is outside 1 to 8192.";
const std::string kUnknown = "Unknown exception";

Texts upgradeOpened(Texts tail) {
    Texts out{"T:Open Device...", "L:IAPProcess Open Device", "T:Open Success! BOOT", "L:IAPProcess Open Success"};
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

Texts switchOpened(Texts tail) {
    Texts out{"T:Open Device...", "L:start ToBoot Open Device...", "L:ToBoot Open Success...", "T:Open Success! BOOT"};
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

sim::Fault always(sim::Fault f) {
    f.repeat = true;
    return f;
}

TEST(Procedures, EveryOutcomeInOrderWithTheDeviceClosed) {
    const Outcome cases[] = {
        {"no device", false, [](Rig&) {},
         {"T:Open Device...", "L:IAPProcess Open Device", "T:Open Failed!", "L:IAPProcess Open Failed"}, 100, 0},
        {"header answered 0x01", false, [](Rig& r) { r.attach()->addFault(sim::Fault::statusAt(0xA0, 0x01)); },
         upgradeOpened({"T:" + kError1, "M:" + kError1, "L:IAPProcess Upgrade error, please try again " + kError1}),
         100, 1},
        {"block 1 answered 0xE2", false, [](Rig& r) { r.attach()->addFault(sim::Fault::statusAt(0xA1, 0xE2, 1)); },
         upgradeOpened({"T:" + kErrorE2, "M:" + kErrorE2, "L:IAPProcess Upgrade error, please try again " + kErrorE2}),
         256, 3},
        {"retry limit: no log line", false,
         [](Rig& r) {
             r.attach();
             r.state.settings.retryNum = 0;
         },
         upgradeOpened({"L:onbusinessOk progress_limit.1000", "L:onbusinessOk progress_pos.0", "T:" + kTimeout,
                        "M:" + kTimeout}),
         0, 1},
        {"device stops answering", false,
         [](Rig& r) { r.attach()->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, 0xA1, 1)); },
         upgradeOpened({"T:" + kUnknown, "M:" + kUnknown, "L:IAPProcess e.what() " + kUnknown}), 256, 3},
        {"device unplugged", false,
         [](Rig& r) { r.attach()->addFault(sim::Fault::atCommand(sim::FaultKind::Disconnect, 0xA1, 1)); },
         upgradeOpened({"T:hid_get_report failed", "M:hid_get_report failed",
                        "L:IAPProcess e.what() hid_get_report failed"}),
         256, 3},
        {"unrunnable image: no search", false,
         [](Rig& r) {
             r.attach();
             r.state.firmware[66] = r.state.firmware[67] = 0;  // block size 0
         },
         {"T:" + kRefusal, "M:" + kRefusal, "L:IAPProcess firmware refused " + kRefusal}, 100, 0},
        {"switch accepted", true, [](Rig& r) { r.attach(false); },
         switchOpened({"L:onbusinessToBoot progress_limit.1000", "L:onbusinessToBoot progress_pos.1000", "T:PASS",
                       "M:PASS"}),
         1000, 1},
        {"switch without a device", true, [](Rig&) {},
         {"T:Open Device...", "L:start ToBoot Open Device...", "L:ToBoot Open Failed...", "T:Open Failed!"}, 100, 0},
        {"switch always rejected", true,
         [](Rig& r) {
             r.state.settings.retryNum = 4;
             r.attach(false)->addFault(always(sim::Fault::statusAt(0xC0, 0xE9)));
         },
         switchOpened({"L:" + kTimeout, "T:" + kTimeout, "M:" + kTimeout}), 100, 4},
        {"switch not answered", true,
         [](Rig& r) {
             auto d = r.attach(false);
             d->setTimeScale(1.0);  // still there when the read times out
             d->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, 0xC0));
         },
         switchOpened({"L:e.what()   : " + kUnknown, "T:" + kUnknown, "M:" + kUnknown}), 100, 1},
    };
    for (const Outcome& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.state.settings.searchDeviceTimeout = 50;
        c.setup(rig);
        const Texts told = story(rig, [&] { c.toBoot ? (void)ToBootProcess(rig.ctx) : IAPProcess(rig.ctx); });
        EXPECT_EQ(asIn(c.story, told), c.story);
        EXPECT_EQ(rig.ctx.progress_pos.load(), c.progressPos);
        EXPECT_EQ(rig.ctx.busy.load(), BUSY_IDLE);
        EXPECT_FALSE(rig.connection.record.isOpen());
        size_t commands = 0;
        for (const auto& d : rig.bus.devices()) {
            EXPECT_EQ(d->openHandles(), 0u);
            EXPECT_EQ(d->openCount() > 0, c.commands > 0);  // an unrunnable image opens nothing
            commands += d->commands().size();
        }
        EXPECT_EQ(commands, c.commands);
    }
}

TEST(ToBootProcess, RefusesWhileAWorkerTaskHoldsTheDevice) {
    for (int32_t held : {BUSY_DEVINFO, BUSY_UPGRADE, BUSY_AUTO_WAITING, BUSY_AUTO_ATTEMPT}) {
        Rig rig;
        auto device = rig.attach(false);
        rig.ctx.busy.store(held);
        const Texts told = story(rig, [&] { EXPECT_FALSE(ToBootProcess(rig.ctx)); });
        EXPECT_EQ(told, Texts{"L:ToBoot refused, device busy." + std::to_string(held)});
        EXPECT_EQ(device->openCount(), 0u);
        EXPECT_EQ(rig.ctx.busy.load(), held);
    }
}

TEST(DeviceInfoThread, FirstListedDeviceMatchingOneEntryOrFailed) {
    const Texts start = {"L:DeviceInfoThread", "T:...", "M:..."};
    auto then = [&start](Texts tail) {
        Texts out = start;
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    };
    const struct {
        const char* name;
        void (*setup)(Rig&);
        Texts story;
    } cases[] = {
        {"found",
         [](Rig& r) {
             sim::BootloaderConfig decoy;  // vendor of one entry, product of none
             decoy.appProductId = 0x1111;
             decoy.mode = sim::Mode::Application;
             r.bus.attach(decoy);
             sim::BootloaderConfig first;
             first.mode = sim::Mode::Application;
             first.bcdDevice = 0x0100;
             r.bus.attach(first);
             r.attach();
         },
         then({"D:1234 5678 0100", "T:OK", "M:OK", "L:DeviceInfoThread OK"})},
        {"none listed", [](Rig&) {}, then({"T:FAILED", "M:FAILED", "L:DeviceInfoThread FAILED"})},
        {"no libusb",
         [](Rig& r) {
             r.attach();
             r.bus.setUsbFails(true);
         },
         then({"T:FAILED", "M:FAILED", "L:DeviceInfoThread FAILED.failed to init libusb."})},
        {"busy", [](Rig& r) { r.ctx.busy.store(BUSY_UPGRADE); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.setup(rig);
        const int32_t before = rig.ctx.busy.load();
        EXPECT_EQ(story(rig, [&] { DeviceInfoThread(rig.ctx); }), c.story);
        EXPECT_EQ(rig.ctx.busy.load(), before);
    }
}

}  // namespace
}  // namespace iap
