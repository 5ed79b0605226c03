// Device discovery: the report-descriptor walks (first Report ID 0x85, first
// two-byte Usage Page 0x06, items stepped by their real size), the path-token
// rule, and on the simulated bus the match rules, the choice among several
// devices and what it prints and logs.
#include <gtest/gtest.h>

#include <spdlog/sinks/ostream_sink.h>

#include <atomic>
#include <cstring>
#include <sstream>

#include "link/descriptor.h"
#include "link/discovery.h"
#include "link/hid_node.h"
#include "link/usb_location.h"
#include "logging/logging.h"
#include "sim/sim_bus.h"
#include "support/link_fixtures.h"

namespace iap {
namespace {

using test::entry;

sim::BootloaderConfig device(uint16_t pid, uint8_t reportId = 0x01) {
    sim::BootloaderConfig c;
    c.bootProductId = pid;
    c.reportId = reportId;
    return c;
}

TEST(Descriptor, WalksStepItemsByTheirRealSize) {
    const struct {
        const char* name;
        test::Bytes descriptor;
        int reportId;   // -1: no Report ID item
        int usagePage;  // -1: no two-byte Usage Page item
    } cases[] = {
        {"vendor descriptor", sim::vendorDescriptor(0x3F), 0x3F, 0xFF00},
        {"report ID first, two IDs",
         {0x85, 0x02, 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03, 0x81, 0x02, 0xC0}, 0x02, 0xFF00},
        // A fixed step of 2 would swallow the 0x06 after End Collection.
        {"after end collection", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0, 0x06, 0x00, 0xFF, 0x85, 0x07}, 0x07, 0xFF00},
        // Logical Maximum with four data bytes that hold 0x85 0x02.
        {"four-byte item", {0x06, 0x00, 0xFF, 0x27, 0x00, 0x85, 0x02, 0x00, 0x85, 0x01}, 0x01, 0xFF00},
        // A two-byte local Usage (0x0A) whose data holds 0x06.
        {"two-byte local item", {0x0A, 0x00, 0x06, 0x06, 0x00, 0xFF, 0x85, 0x05}, 0x05, 0xFF00},
        // A long item (0xFE, size, tag, data) whose data looks like items.
        {"long item", {0xFE, 0x04, 0x10, 0x85, 0x09, 0x06, 0x01, 0x85, 0x04, 0x06, 0x00, 0xFF}, 0x04, 0xFF00},
        {"one-byte usage page", {0x05, 0x01, 0x85, 0x01}, 0x01, -1},
        {"empty", {}, -1, -1},
        {"no report ID", {0x06, 0x00, 0xFF, 0x09, 0x01, 0xC0}, -1, 0xFF00},
        {"truncated report ID", {0x06, 0x00, 0xFF, 0x85}, -1, 0xFF00},
        {"truncated usage page", {0x85, 0x01, 0x06, 0x00}, 0x01, -1},
        {"truncated long item", {0x85, 0x01, 0xFE, 0x10, 0x00, 0x06, 0x00, 0xFF}, 0x01, -1},
        {"long item without its header", {0x85, 0x01, 0xFE}, 0x01, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DescriptorFacts f = walkReportDescriptor(c.descriptor.data(), c.descriptor.size());
        EXPECT_EQ(f.hasReportId ? f.reportId : -1, c.reportId);
        EXPECT_EQ(f.hasUsagePage ? f.usagePage : -1, c.usagePage);
    }
}

TEST(PathTokens, HexAfterTheTokensOrTheEnumerationRecord) {
    const struct {
        const char* path;
        bool matches;
        uint16_t vid, pid;
    } cases[] = {
        {"\\\\?\\hid#VID_1A2b&PID_00fF#7&1&0&0000#{4d1e}", true, 0x1A2B, 0x00FF},
        {"VID_12G4&PID_12", true, 0x1204, 0x1200},             // G and the end count 0
        {"PID_0001 VID_0002 VID_0003", true, 0x0002, 0x0001},  // first occurrence
        // Windows' own paths carry the tokens in lower case.
        {"\\\\?\\hid#vid_046d&pid_c534&mi_01&col01#7&383a3a17&0&0000#{4d1e}", true, 0x046D, 0xC534},
        {"\\\\?\\hid#VID_1234&Pid_5679#0", true, 0x1234, 0x5679},
        {"\\\\?\\hid#vid_1234&pi_5679#0", false, 0, 0},  // one token without the other
        {"\\\\?\\hid#PID_5679#0", false, 0, 0},
        {"/dev/hidraw3", true, 0x1234, 0x5679},  // no token: the record's IDs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        uint16_t vid = 0, pid = 0;
        EXPECT_EQ(pathVidPid(c.path, vid, pid), c.matches && c.path[0] != '/');
        vid = pid = 0;
        ASSERT_EQ(deviceVidPid(HidDeviceInfo{c.path, 0x1234, 0x5679, 0xFF00}, vid, pid), c.matches);
        EXPECT_EQ(vid, c.vid);
        EXPECT_EQ(pid, c.pid);
    }
}

TEST(Discovery, MatchRulesCloseEveryCandidateNotChosen) {
    sim::SimBus bus;
    auto good = bus.attach(device(0x0001, 0x01));
    auto lower = bus.attach(device(0x0003), sim::PathStyle::WindowsLower);
    bus.attach(device(0x0004), sim::PathStyle::Windows);
    bus.attach(device(0x0005))->setDescriptor({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0xC0});
    bus.attach(device(0x0006))->setDescriptor({0x06, 0x01, 0x00, 0x85, 0x01, 0xC0});  // usage page 0x0001
    bus.attach(device(0x0007))->setOpenFails(true);
    bus.attach(device(0x0008))->setDescriptorFails(true);
    bus.attach(device(0x0009))->setDescriptor({});
    const std::vector<HidDeviceInfo> list = bus.enumerate();
    ASSERT_EQ(list.size(), 8u);
    auto match = [&](size_t index, DeviceIdEntry e) {
        DeviceRecord record;
        const bool chosen = matchDevice(bus, list[index], e.vendorId, e.productId, e.reportId, record);
        EXPECT_EQ(chosen, record.isOpen());
        return chosen;
    };
    testing::internal::CaptureStdout();
    EXPECT_TRUE(match(0, entry(0x0001)));
    EXPECT_FALSE(match(0, entry(0x0001, 0x02)));          // report ID differs: opened, closed again
    EXPECT_FALSE(match(0, entry(0x0001, 0x01, 0x1235)));  // vendor ID differs: not even opened
    EXPECT_EQ(good->openCount(), 2u);
    EXPECT_TRUE(match(1, entry(0x0003)));          // lower-case tokens
    EXPECT_FALSE(match(1, entry(0x0003, 0x01, 0x1235)));  // their vendor ID read and compared
    EXPECT_EQ(lower->openCount(), 1u);
    EXPECT_TRUE(match(2, entry(0x0004)));  // upper-case tokens
    for (size_t i = 3; i < list.size(); ++i) EXPECT_FALSE(match(i, entry(static_cast<uint16_t>(i + 2)))) << i;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "reportId: 0001\nusage: FF00\nreportId: 0001\nusage: FF00\nreportId: 0001\nusage: FF00\n"
              "reportId: 0001\nusage: FF00\nreportId: 0001\nusage: 0001\n");
    for (const auto& d : bus.devices()) EXPECT_EQ(d->openHandles(), 0u);
}

TEST(Discovery, OpenMatchingTriesEveryEntryAndTellsWhyNot) {
    sim::SimBus bus;
    bus.attach(device(0x0001, 0x02));
    bus.attach(device(0x0002))->setDescriptor({0x06, 0x01, 0x00, 0x85, 0x01, 0xC0});  // usage page 0x0001
    bus.attach(device(0x0003))->setDescriptor({0x06, 0x00, 0xFF, 0x09, 0x01});
    bus.attach(device(0x0004))->setDescriptor({0x85, 0x01, 0x05, 0x01});
    bus.attach(device(0x0005))->setOpenFails(true);
    bus.attach(device(0x0006))->setDescriptorFails(true);
    bus.attach(device(0x0007));
    // Report ID 0x01 for every product, 0x02 as a second entry of 0x0001.
    std::vector<DeviceIdEntry> entries = {entry(0x0001), entry(0x0002), entry(0x0003), entry(0x0004),
                                          entry(0x0005), entry(0x0006), entry(0x0001, 0x02)};
    const DeviceCheck expected[] = {DeviceCheck::Chosen,       DeviceCheck::OtherUsagePage, DeviceCheck::NoReportId,
                                    DeviceCheck::NoUsagePage,  DeviceCheck::OpenFailed,     DeviceCheck::NoDescriptor,
                                    DeviceCheck::OtherIds};
    const std::vector<HidDeviceInfo> list = bus.enumerate();
    testing::internal::CaptureStdout();
    for (size_t i = 0; i < list.size(); ++i) {
        DeviceRecord record;
        EXPECT_EQ(openMatching(bus, list[i], entries, record), expected[i]) << list[i].productId;
        EXPECT_EQ(record.isOpen(), expected[i] == DeviceCheck::Chosen);
        EXPECT_EQ(record.reportId, expected[i] == DeviceCheck::Chosen ? 0x02 : 0x00);
        EXPECT_EQ(record.info.portChain, expected[i] == DeviceCheck::Chosen ? "1-1" : "");
    }
    testing::internal::GetCapturedStdout();
    for (const auto& d : bus.devices()) EXPECT_EQ(d->openHandles(), 0u);
    EXPECT_TRUE(bus.openProblem(list[4].path).permission);
    EXPECT_EQ(bus.openProblem(list[0].path).reason, "");
    EXPECT_EQ(bus.openProblem("/dev/hidraw999").reason, "No such device");
}

// Linux: the last USB device of a sysfs path. Windows: a node's location
// path, PCI or ACPI (the PCI path preferred), a composite device's interface
// giving its device's chain. Nothing for a root hub, another bus or junk.
TEST(PortChain, TheLastUsbDeviceOfASysfsPathOrAWindowsLocationPath) {
    const struct {
        const char* path;
        const char* chain;
    } cases[] = {
        {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.0/0003:1234:5679.0001", "1-4.2"},
        {"/sys/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1.2/3-1.2.4/3-1.2.4:1.1/0003:1234:5679.000A", "3-1.2.4"},
        {"/sys/devices/usb1/1-1/1-1:1.0/0003:1234:5678.0002", "1-1"},
        {"/sys/devices/usb12/12-10/12-10:1.0/0003:1234:5678.0002", "12-10"},
        // Bluetooth, uhid and other nodes without a USB device above them.
        {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-8/1-8:1.0/bluetooth/hci0/hci0:256/0005:046D:B33E.0005", ""},
        {"/sys/devices/virtual/misc/uhid/0003:1234:5678.0003", ""},
        {"/sys/devices/usb1", ""},
        {"/sys/devices/usb1/1-1/1-1:1.0/0003:1234:5678.0002/", "1-1"},
        {"/sys/devices/usb1/1-1/1-1:1.0", ""},
        {"", ""},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)", "PCIROOT0_PCI1400-4"},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)#USBMI(1)", "PCIROOT0_PCI1400-4.2"},
        {"PCIROOT(20)#PCI(0301)#PCI(0000)#USBROOT(0)#USB(1)#USB(3)#USB(1)#USB(12)",
         "PCIROOT20_PCI0301_PCI0000-1.3.1.12"},
        {"PCIROOT(0)#PCI(1D00)#USBROOT(1)#USB(01)", "PCIROOT0_PCI1D00_USBROOT1-1"},
        {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)", "_SB.PCI0.XHC.RHUB-HS04"},
        {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)#USB(2)#USB(3)#USBMI(0)", "_SB.PCI0.XHC.RHUB-HS04.2.3"},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)", ""},           // the root hub itself
        {"ACPI(_SB_)#ACPI(PCI0)#ACPI(I2C1)#ACPI(TPD0)", ""},  // HID over I2C
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(0)", ""},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#", ""},
        {"PCIROOT(0)##USBROOT(0)#USB(4)", ""},
        {"PCIROOT(0)#PCI(14 00)#USBROOT(0)#USB(4)", ""},
        {"USBROOT(0)#USB(4)", ""},
    };
    for (const auto& c : cases) {
        // Either system's path is junk to the other's reader.
        const bool windows = std::strchr(c.path, '#') != nullptr;
        const std::string chain = windows ? portChainFromLocationPath(c.path) : portChainFromSysfsPath(c.path);
        EXPECT_EQ(chain, c.chain) << c.path;
        EXPECT_EQ(windows ? portChainFromSysfsPath(c.path) : portChainFromLocationPath(c.path), "") << c.path;
        EXPECT_EQ(isPortChain(chain), !chain.empty()) << chain;  // --port takes it
    }
    for (const char* good : {"1-4", "1-4.2", "3-1.2.4", "10-12"}) EXPECT_TRUE(isPortChain(good)) << good;
    for (const char* bad : {"", "1", "1-", "-4", "1-4.", "1-4..2", "1.4.2", "1-4:1.0", "usb1", "1-4.x",
                            "PCI(1400)-4", "PCIROOT0_PCI1400-4.x", "_SB..XHC-HS04", "PCIROOT0#PCI1400-4"}) {
        EXPECT_FALSE(isPortChain(bad)) << bad;
    }
    EXPECT_EQ(portChainFromLocationPaths({"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)#USB(2)",
                                          "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)"}),
              "PCIROOT0_PCI1400-4.2");
    EXPECT_EQ(portChainFromLocationPaths({"junk", "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(SS01)"}),
              "_SB.PCI0.XHC.RHUB-SS01");
    EXPECT_EQ(portChainFromLocationPaths({}), "");
}

TEST(Discovery, FirstEnumeratedDeviceWinsWhateverItsEntry) {
    sim::SimBus bus;
    bus.attach(device(0x0009));  // matches no entry
    auto second = bus.attach(device(0x0002, 0x3C));
    auto first = bus.attach(device(0x0001));
    StopSignal cancelled;
    DeviceRecord record;
    const std::vector<DeviceIdEntry> entries = {entry(0x0001), entry(0x0002, 0x3C)};
    SearchDevice(bus, entries, 0, record, cancelled);  // time-out 0: no pass
    EXPECT_EQ(bus.enumerations(), 0u);

    std::ostringstream log;
    const auto saved = basic_logger;
    basic_logger = std::make_shared<spdlog::logger>("discovery", std::make_shared<spdlog::sinks::ostream_sink_st>(log));
    basic_logger->set_pattern("%v");
    testing::internal::CaptureStdout();
    SearchDevice(bus, entries, 2000, record, cancelled);
    const std::string out = testing::internal::GetCapturedStdout();
    basic_logger = saved;
    ASSERT_TRUE(record.isOpen());
    EXPECT_EQ(record.reportId, 0x3C);
    EXPECT_EQ(record.usagePage, 0xFF00);
    EXPECT_EQ(second->openHandles(), 1u);  // listed before the device of the first entry
    EXPECT_EQ(first->openCount(), 0u);
    EXPECT_EQ(bus.enumerations(), 1u);
    EXPECT_EQ(out, "reportId: 003C\nusage: FF00\nreport ID:3C\n");
    EXPECT_EQ(log.str(), "SearchDevice report ID.60\n");  // the byte as a number

    cancelled.request();  // a cancelled search makes no pass and leaves the record empty
    SearchDevice(bus, entries, 5000, record, cancelled);
    EXPECT_FALSE(record.isOpen());
    EXPECT_EQ(second->openHandles(), 0u);
    EXPECT_EQ(bus.enumerations(), 1u);
}

}  // namespace
}  // namespace iap
