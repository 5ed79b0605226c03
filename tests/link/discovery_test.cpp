// Device discovery against the simulated bus: the path-token rule, the
// matching order and the candidates that are not chosen.
#include <gtest/gtest.h>

#include <atomic>

#include "link/discovery.h"
#include "sim/sim_bus.h"

namespace iap {
namespace {

using sim::BootloaderConfig;
using sim::PathStyle;
using sim::SimBus;

BootloaderConfig device(uint16_t pid, uint8_t reportId = 0x01, uint16_t vid = 0x1234) {
    BootloaderConfig c;
    c.vendorId = vid;
    c.bootProductId = pid;
    c.reportId = reportId;
    return c;
}

DeviceIdEntry entry(uint16_t pid, uint8_t reportId = 0x01, uint16_t vid = 0x1234) {
    DeviceIdEntry e;
    e.vendorId = vid;
    e.productId = pid;
    e.reportId = reportId;
    return e;
}

TEST(PathTokens, ReadsFourHexCharactersAfterEachToken) {
    uint16_t vid = 0;
    uint16_t pid = 0;
    ASSERT_TRUE(pathVidPid("\\\\?\\hid#VID_1A2b&PID_00fF#7&1&0&0000#{4d1e}", vid, pid));
    EXPECT_EQ(vid, 0x1A2B);
    EXPECT_EQ(pid, 0x00FF);
    ASSERT_TRUE(pathVidPid("VID_12G4&PID_12", vid, pid));  // G and the end count 0
    EXPECT_EQ(vid, 0x1204);
    EXPECT_EQ(pid, 0x1200);
    ASSERT_TRUE(pathVidPid("PID_0001 VID_0002 VID_0003", vid, pid));  // first occurrence
    EXPECT_EQ(vid, 0x0002);
    EXPECT_EQ(pid, 0x0001);
    EXPECT_FALSE(pathVidPid("\\\\?\\hid#vid_1234&pid_5678#0", vid, pid));
    EXPECT_FALSE(pathVidPid("\\\\?\\hid#VID_1234&pid_5678#0", vid, pid));
    EXPECT_FALSE(pathVidPid("/dev/hidraw0", vid, pid));
}

TEST(PathTokens, LinuxPathsTakeTheEnumerationRecord) {
    uint16_t vid = 0;
    uint16_t pid = 0;
    ASSERT_TRUE(deviceVidPid(HidDeviceInfo{"/dev/hidraw3", 0x1234, 0x5679, 0xFF00}, vid, pid));
    EXPECT_EQ(vid, 0x1234);
    EXPECT_EQ(pid, 0x5679);
    // Tokens win over the record when the path carries them.
    ASSERT_TRUE(deviceVidPid(HidDeviceInfo{"x#VID_AAAA&PID_BBBB#", 0x1234, 0x5679, 0}, vid, pid));
    EXPECT_EQ(vid, 0xAAAA);
    EXPECT_EQ(pid, 0xBBBB);
    // A Windows path with only lower-case (or half) tokens matches nothing.
    EXPECT_FALSE(deviceVidPid(HidDeviceInfo{"x#vid_1234&pid_5679#", 0x1234, 0x5679, 0}, vid, pid));
    EXPECT_FALSE(deviceVidPid(HidDeviceInfo{"x#VID_1234&Pid_5679#", 0x1234, 0x5679, 0}, vid, pid));
}

TEST(Discovery, MatchRules) {
    SimBus bus;
    auto good = bus.attach(device(0x0001, 0x01));
    auto otherId = bus.attach(device(0x0002, 0x02));
    auto lower = bus.attach(device(0x0003), PathStyle::WindowsLower);
    auto upper = bus.attach(device(0x0004), PathStyle::Windows);
    auto noReportId = bus.attach(device(0x0005));
    noReportId->setDescriptor({0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0xC0});
    auto keyboardPage = bus.attach(device(0x0006));
    keyboardPage->setDescriptor({0x06, 0x01, 0x00, 0x85, 0x01, 0xC0});
    auto cannotOpen = bus.attach(device(0x0007));
    cannotOpen->setOpenFails(true);
    auto noDescriptor = bus.attach(device(0x0008));
    noDescriptor->setDescriptorFails(true);
    auto emptyDescriptor = bus.attach(device(0x0009));
    emptyDescriptor->setDescriptor({});

    const std::vector<HidDeviceInfo> list = bus.enumerate();
    ASSERT_EQ(list.size(), 9u);
    auto match = [&](size_t index, DeviceIdEntry e) {
        DeviceRecord record;
        const bool chosen = matchDevice(bus, list[index], e.vendorId, e.productId, e.reportId, record);
        EXPECT_EQ(chosen, record.isOpen());
        return chosen;
    };
    EXPECT_TRUE(match(0, entry(0x0001)));
    EXPECT_FALSE(match(0, entry(0x0001, 0x02)));  // report ID differs: opened, closed again
    EXPECT_EQ(good->openCount(), 2u);
    EXPECT_EQ(good->openHandles(), 0u);
    EXPECT_FALSE(match(0, entry(0x0001, 0x01, 0x1235)));  // vendor ID differs: not even opened
    EXPECT_EQ(good->openCount(), 2u);
    EXPECT_FALSE(match(1, entry(0x0002, 0x01)));
    EXPECT_TRUE(match(1, entry(0x0002, 0x02)));
    EXPECT_FALSE(match(2, entry(0x0003)));  // lower-case tokens
    EXPECT_EQ(lower->openCount(), 0u);
    EXPECT_TRUE(match(3, entry(0x0004)));   // upper-case tokens
    EXPECT_FALSE(match(4, entry(0x0005)));  // no Report ID item
    EXPECT_FALSE(match(5, entry(0x0006)));  // usage page 0x0001
    EXPECT_FALSE(match(6, entry(0x0007)));
    EXPECT_FALSE(match(7, entry(0x0008)));
    EXPECT_FALSE(match(8, entry(0x0009)));
    for (const auto& d : bus.devices()) EXPECT_EQ(d->openHandles(), 0u);
}

TEST(Discovery, FirstEnumeratedDeviceWinsWhateverItsEntry) {
    SimBus bus;
    bus.attach(device(0x0009));  // matches no entry
    auto second = bus.attach(device(0x0002));
    auto first = bus.attach(device(0x0001));
    std::atomic<bool> cancelled{false};
    DeviceRecord record;
    testing::internal::CaptureStdout();
    SearchDevice(bus, {entry(0x0001), entry(0x0002)}, 2000, record, cancelled);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(record.isOpen());
    EXPECT_EQ(record.reportId, 0x01);
    EXPECT_EQ(record.usagePage, 0xFF00);
    EXPECT_EQ(second->openHandles(), 1u);  // listed before the device of entry 0
    EXPECT_EQ(first->openCount(), 0u);
    EXPECT_EQ(bus.enumerations(), 1u);
    EXPECT_EQ(out, "reportId: 0001\nusage: FF00\nreport ID:01\n");
    record.close();
    EXPECT_EQ(second->openHandles(), 0u);
}

TEST(Discovery, ChosenDeviceTalksWithItsReportId) {
    SimBus bus;
    bus.attach(device(0x0001, 0x3C));
    std::atomic<bool> cancelled{false};
    DeviceRecord record;
    SearchDevice(bus, {entry(0x0001, 0x3C)}, 1000, record, cancelled);
    ASSERT_TRUE(record.isOpen());
    EXPECT_EQ(record.reportId, 0x3C);
}

TEST(Discovery, ZeroTimeOutOrCancelledSearchMakesNoPass) {
    SimBus bus;
    bus.attach(device(0x0001));
    std::atomic<bool> cancelled{false};
    DeviceRecord record;
    SearchDevice(bus, {entry(0x0001)}, 0, record, cancelled);
    EXPECT_FALSE(record.isOpen());
    cancelled = true;
    SearchDevice(bus, {entry(0x0001)}, 5000, record, cancelled);
    EXPECT_FALSE(record.isOpen());
    EXPECT_EQ(bus.enumerations(), 0u);
}

}  // namespace
}  // namespace iap
