// The upgrade and switch-to-boot procedures and the device information query
// against the simulated bus: their UI events and log lines, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "support/sim_rig.h"
#include "upgrade/device_info.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_procedure.h"

namespace iap {
namespace {

using Texts = std::vector<std::string>;
using test::Rig;

Texts operator+(Texts a, const Texts& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Texts both(const std::string& text) { return {"T:" + text, "M:" + text}; }
bool isProgress(const std::string& line) { return line.rfind("L:onbusiness", 0) == 0; }

// Runs f (standard output swallowed) and tells what happened: UI events
// ("T:", "M:", "D:") and log lines ("L:", discovery's left out) in the order
// they came. Progress lines are left out too unless `expected` shows some.
template <typename F>
Texts story(Rig& rig, F f, const Texts& expected = {}) {
    Texts out;
    {
        test::LogCapture log;
        log.onLine = [&](const std::string& line) {
            out = out + rig.drainTexts();
            if (line.rfind("SearchDevice", 0) != 0) out.push_back("L:" + line);
        };
        ::testing::internal::CaptureStdout();
        f();
        ::testing::internal::GetCapturedStdout();
    }
    out = out + rig.drainTexts();
    if (std::none_of(expected.begin(), expected.end(), isProgress)) std::erase_if(out, isProgress);
    return out;
}

const Texts kOpened = {"T:Open Device...", "L:IAPProcess Open Device", "T:Open Success! BOOT",
                       "L:IAPProcess Open Success"};
const Texts kSwitchOpened = {"T:Open Device...", "L:start ToBoot Open Device...", "L:ToBoot Open Success...",
                             "T:Open Success! BOOT"};
const std::string kError1 = "Upgrade error, please try again.\nError code:0x01\nunknown error";
const std::string kErrorE2 = "Upgrade error, please try again.\nError code:0xE2\nCRC error";
const std::string kErrorF5 = "Upgrade error, please try again.\nError code:0xF5\n[HEADER] error: CHECK INFO";
const std::string kTimeout = "Timeout error, please try again.";
const std::string kRefusal = "Firmware block size 0 is outside 1 to 8192.";
const std::string kUnknown = "Unknown exception";

TEST(IAPProcess, ReferenceImagePassesAndTheFlashHoldsThePayload) {
    Rig rig(144608, 256);
    auto device = rig.attach();
    EXPECT_EQ(story(rig, [&] { IAPProcess(rig.ctx); }), kOpened + both("PASS") + Texts{"L:IAPProcess PASS"});
    const auto commands = device->commands();  // header, 565 blocks (the last of 224 bytes), finish
    ASSERT_EQ(commands.size(), 567u);
    EXPECT_EQ(commands[565].pack.size(), 224u + 11u);
    EXPECT_EQ(rig.flashOf(*device), rig.payload);
    EXPECT_EQ(rig.reporter.progress_limit.load(), 144608u);
    EXPECT_EQ(rig.reporter.progress_pos.load(), 144608u);
    EXPECT_EQ(device->openHandles(), 0u);
}

TEST(Procedures, EveryOutcomeInOrderWithTheDeviceClosed) {
    const struct {
        const char* name;
        bool toBoot;
        void (*setup)(Rig&);
        Texts story;
        uint32_t progressPos;
        size_t commands;      // received by the devices on the bus
        const char* failure;  // the record's and usb-iap-flash's word for it
    } cases[] = {
        {"no device", false, [](Rig&) {},
         {"T:Open Device...", "L:IAPProcess Open Device", "T:Open Failed!", "L:IAPProcess Open Failed"}, 100, 0, "not-found"},
        {"header answered 0x01", false, [](Rig& r) { r.attach()->addFault(sim::Fault::statusAt(0xA0, 0x01)); },
         kOpened + both(kError1) + Texts{"L:IAPProcess Upgrade error, please try again " + kError1}, 100, 1, "device-status"},
        {"block 1 answered 0xE2", false, [](Rig& r) { r.attach()->addFault(sim::Fault::statusAt(0xA1, 0xE2, 1)); },
         kOpened + both(kErrorE2) + Texts{"L:IAPProcess Upgrade error, please try again " + kErrorE2}, 256, 3, "device-status"},
        {"retry limit: no log line", false,
         [](Rig& r) {
             r.attach();
             r.state.settings.retryNum = 0;
         },
         kOpened + Texts{"L:onbusinessOk progress_limit.1000", "L:onbusinessOk progress_pos.0"} + both(kTimeout), 0, 1, "retry-limit"},
        {"device stops answering", false,
         [](Rig& r) { r.attach()->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, 0xA1, 1)); },
         kOpened + both(kUnknown) + Texts{"L:IAPProcess e.what() " + kUnknown}, 256, 3, "timeout"},
        {"device unplugged", false,
         [](Rig& r) { r.attach()->addFault(sim::Fault::atCommand(sim::FaultKind::Disconnect, 0xA1, 1)); },
         kOpened + both("hid_get_report failed") + Texts{"L:IAPProcess e.what() hid_get_report failed"}, 256, 3, "read-failed"},
        // One report too many (the last block answered twice) must not stand
        // in for the answer to the finish, which the device rejects.
        {"reply sent twice, finish rejected", false,
         [](Rig& r) {
             auto d = r.attach();
             d->addFault(sim::Fault::atCommand(sim::FaultKind::AnsweredTwice, 0xA1, 3));
             d->addFault(sim::Fault::statusAt(0xA4, 0xF5));
         },
         kOpened + both(kErrorF5) + Texts{"L:IAPProcess Upgrade error, please try again " + kErrorF5}, 1000, 6, "device-status"},
        {"reply with a wrong marker", false,
         [](Rig& r) { r.attach()->addFault(sim::Fault::atCommand(sim::FaultKind::WrongMarker, 0xA1, 1)); },
         kOpened + both(kUnknown) + Texts{"L:IAPProcess e.what() " + kUnknown}, 256, 3, "transfer-pack"},
        {"response with a wrong CRC", false,
         [](Rig& r) { r.attach()->addFault(sim::Fault::atCommand(sim::FaultKind::WrongCrc, 0xA1, 1)); },
         kOpened + both(kUnknown) + Texts{"L:IAPProcess e.what() " + kUnknown}, 256, 3, "business-pack"},
        {"unrunnable image: no search", false,
         [](Rig& r) {
             r.attach();
             r.state.firmware[66] = r.state.firmware[67] = 0;  // block size 0
         },
         both(kRefusal) + Texts{"L:IAPProcess firmware refused " + kRefusal}, 100, 0, "refused"},
        {"switch accepted", true, [](Rig& r) { r.attach(false); },
         kSwitchOpened + Texts{"L:onbusinessToBoot progress_limit.1000", "L:onbusinessToBoot progress_pos.1000"} +
             both("PASS"),
         1000, 1, ""},
        {"switch without a device", true, [](Rig&) {},
         {"T:Open Device...", "L:start ToBoot Open Device...", "L:ToBoot Open Failed...", "T:Open Failed!"}, 100, 0, "not-found"},
        {"switch always rejected", true,
         [](Rig& r) {
             r.state.settings.retryNum = 4;
             sim::Fault reject = sim::Fault::statusAt(0xC0, 0xE9);
             reject.repeat = true;
             r.attach(false)->addFault(reject);
         },
         kSwitchOpened + Texts{"L:" + kTimeout} + both(kTimeout), 100, 4, "device-status"},
        {"switch not answered", true,
         [](Rig& r) {
             auto d = r.attach(false);
             d->setTimeScale(1.0);  // still there when the read times out
             d->addFault(sim::Fault::atCommand(sim::FaultKind::NoReply, 0xC0));
         },
         kSwitchOpened + Texts{"L:e.what()   : " + kUnknown} + both(kUnknown), 100, 1, "timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.state.settings.searchDeviceTimeout = 50;
        c.setup(rig);
        AttemptResult result;
        auto run = [&] { result = c.toBoot ? *ToBootProcess(rig.ctx) : IAPProcess(rig.ctx); };
        EXPECT_EQ(story(rig, run, c.story), c.story);
        EXPECT_STREQ(failureName(result.failure), c.failure);
        EXPECT_EQ(rig.reporter.progress_pos.load(), c.progressPos);
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
        EXPECT_EQ(story(rig, [&] { EXPECT_FALSE(ToBootProcess(rig.ctx)); }),
                  Texts{"L:ToBoot refused, device busy." + std::to_string(held)});
        EXPECT_EQ(device->openCount(), 0u);
        EXPECT_EQ(rig.ctx.busy.load(), held);
    }
}

TEST(DeviceInfoThread, FirstListedDeviceMatchingOneEntryOrFailed) {
    const Texts start = {"L:DeviceInfoThread", "T:...", "M:..."};
    const struct {
        const char* name;
        void (*setup)(Rig&);
        Texts story;
    } cases[] = {
        {"found",
         [](Rig& r) {  // first a decoy with the vendor of one entry and the product of none
             r.bus.attach({.appProductId = 0x1111, .mode = sim::Mode::Application});
             r.bus.attach({.bcdDevice = 0x0102, .mode = sim::Mode::Application});
             r.attach();
         },
         start + Texts{"D:1234 5678 0102"} + both("OK") + Texts{"L:DeviceInfoThread OK"}},
        {"none listed", [](Rig&) {}, start + both("FAILED") + Texts{"L:DeviceInfoThread FAILED"}},
        {"no libusb", [](Rig& r) { r.bus.setUsbFails(true); },
         start + both("FAILED") + Texts{"L:DeviceInfoThread FAILED.failed to init libusb."}},
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
