// The simulated bootloader driven through the real link code: a byte-exact
// upgrade, the device's checks, and the faults it can play.
#include <gtest/gtest.h>

#include <stdexcept>

#include "bytes/checksums.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "sim/sim_bus.h"
#include "support/link_fixtures.h"

namespace iap {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::Bytes;
using test::upgrade;

struct SimLink {
    sim::SimBus bus;
    std::shared_ptr<sim::SimDevice> device;
    DeviceConnection connection;

    explicit SimLink(sim::BootloaderConfig config = {}) {
        device = bus.attach(config);
        connection.record.handle = bus.openPath(device->path());
        connection.record.reportId = config.reportId;
    }
};

TEST(SimBootloader, UpgradeIsWrittenByteExact) {
    for (const auto& spec : {test::ImageSpec{300, 256}, test::ImageSpec{768, 256}, test::ImageSpec{20000, 8192},
                             test::ImageSpec{1, 1}}) {
        SCOPED_TRACE(spec.payloadSize);
        sim::BootloaderConfig config;
        config.reportId = 0x42;
        SimLink link(config);
        const Bytes image = test::makeImage(spec);
        EXPECT_EQ(upgrade(link.connection, image), 0);
        const Bytes flash = link.device->flash();
        EXPECT_TRUE(std::equal(image.begin() + 128, image.end(), flash.begin()));
        EXPECT_EQ(flash[spec.payloadSize], 0xFF);
        EXPECT_TRUE(link.device->upgradePassed());
        const auto written = link.device->outputReports();
        EXPECT_EQ(link.device->inputReports().size(), written.size());  // one answer per report
        for (const Bytes& r : written) EXPECT_EQ(r[0], 0x42);
        EXPECT_EQ(written.size() == 3 + 5 + 1 + 1, spec.payloadSize == 300);  // 133, 267, 55, 7 bytes
    }
}

TEST(SimBootloader, HeaderChecks) {
    const struct {
        const char* name;
        uint8_t status;
        void (*spoil)(Bytes&);
    } cases[] = {
        {"signature", 0xF0, [](Bytes& h) { h[3] = 0x01; }},
        {"header crc", 0xF9, [](Bytes& h) { h[126] ^= 1; }},
        {"zero length", 0xFB, [](Bytes& h) { h[110] = h[111] = 0; }},
        {"block size 0", 0xF6, [](Bytes& h) { h[66] = h[67] = 0; }},
        {"block size 8193", 0xF6, [](Bytes& h) { h[66] = 0x01, h[67] = 0x20; }},
        {"block count", 0xF6, [](Bytes& h) { h[68] = 5; }},
        {"payload crc, at finish", 0xF5, [](Bytes& h) { h[62] ^= 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimLink link;
        Bytes image = test::makeImage();
        c.spoil(image);
        if (c.status != 0xF9) test::resealHeader(image);
        EXPECT_EQ(upgrade(link.connection, image), c.status);
        EXPECT_FALSE(link.device->upgradePassed());
    }
    sim::BootloaderConfig config;
    config.expectedChipId = "CHIP-X2";
    SimLink chip(config);
    EXPECT_EQ(upgrade(chip.connection, test::makeImage()), 0xF1);
}

TEST(SimBootloader, SwitchAndFinishRestartTheDeviceUnderTheOtherIdentity) {
    sim::BootloaderConfig config;
    config.mode = sim::Mode::Application;
    SimLink link(config);
    link.device->setTimeScale(0.0);  // restart at once
    const std::string appPath = link.device->path();
    EXPECT_EQ(upgrade(link.connection, test::makeImage()), 0xE9);  // the application takes only the switch
    EXPECT_EQ(test::transact(link.connection, buildToBootCommand(link.connection.request(), 1000)), 0);
    EXPECT_EQ(link.device->productId(), 0x5679);
    EXPECT_NE(link.device->path(), appPath);  // a new node; the old handle is dead
    EXPECT_EQ(test::outcome([&] { test::transact(link.connection, 7); }), "hid_set_report failed");
    link.connection.record.handle = link.bus.openPath(link.device->path());
    EXPECT_EQ(upgrade(link.connection, test::makeImage({2000, 512, "V3.1.4"}), 500), 0);
    const auto usb = link.bus.usbDevices();
    ASSERT_EQ(usb.size(), 1u);
    EXPECT_EQ(usb[0].idProduct, 0x5678);
    EXPECT_EQ(usb[0].bcdDevice, 0x0314);  // from the image's SW version
}

TEST(SimBootloader, FaultsSurfaceAsTheLinksExceptions) {
    auto atData = [](FaultKind kind) { return Fault::atCommand(kind, CMD_DATA, 1); };  // the second block
    const std::pair<Fault, const char*> cases[] = {
        {atData(FaultKind::NoReply), "timeout"},
        {atData(FaultKind::WrongMarker), "transfer"},
        {atData(FaultKind::WrongChecksum), "transfer"},
        {atData(FaultKind::OversizeLength), "transfer"},
        {atData(FaultKind::WrongCrc), "business"},
        {atData(FaultKind::CrcLowFirst), "business"},
        {atData(FaultKind::WrongResponseCode), "business"},
        {atData(FaultKind::ShortFirstPack), "business"},
        {atData(FaultKind::HugeDataLength), "business"},
        {atData(FaultKind::Overshoot), "business"},
        {atData(FaultKind::Disconnect), "hid_get_report failed"},
        {Fault::statusAt(CMD_DATA, 0xE8, 1), "status 232"},
        // The answers to packs that do not end a command are not examined.
        {Fault::atReport(FaultKind::WrongMarker, 0), "status 0"},
        {Fault::atReport(FaultKind::OversizeLength, 4), "status 0"},
    };
    for (const auto& [fault, expected] : cases) {
        SCOPED_TRACE(expected);
        SimLink link;
        link.device->addFault(fault);
        uint8_t status = 0;
        const std::string got = test::outcome([&] { status = upgrade(link.connection, test::makeImage()); });
        EXPECT_EQ(got == "nothing" ? "status " + std::to_string(status) : got, expected);
        EXPECT_EQ(link.device->commands().size(), fault.command >= 0 ? 3u : 6u);  // header, blocks, finish
    }
    SimLink gone;  // a device that vanished is gone from the list and fails the next write
    gone.device->addFault(Fault::atReport(FaultKind::Disconnect, 1));
    EXPECT_THROW(upgrade(gone.connection, test::makeImage()), std::runtime_error);
    EXPECT_TRUE(gone.bus.enumerate().empty());
    EXPECT_THROW(gone.connection.exchange(gone.connection.request(), 7, 0, true, 10), std::runtime_error);
}

// The device's checks of the command sequence: each row sends the header (when
// asked), then one command built by the row, and expects the device's status.
TEST(SimBootloader, CommandSequenceChecks) {
    const Bytes image = test::makeImage({1000, 256});  // blocks 0..3, the last of 232 bytes
    auto reseal = [](uint8_t* cmd, size_t length) {  // CRC-16/MODBUS, high byte first
        const uint16_t crc = crc16Modbus(cmd, length - 2);
        cmd[length - 2] = static_cast<uint8_t>(crc >> 8);
        cmd[length - 1] = static_cast<uint8_t>(crc);
    };
    const struct {
        const char* name;
        bool header;
        uint8_t status;
        size_t (*build)(uint8_t*, const Bytes&);
        bool reseal = false;  // the row changed bytes that the CRC covers
    } cases[] = {
        {"block before the header", false, 0xE9,
         [](uint8_t* o, const Bytes& i) { return buildDataCommand(o, i, 0, 256, 256, false); }},
        {"finish before the blocks", true, 0xE9, [](uint8_t* o, const Bytes&) { return buildFinishCommand(o, 0); }},
        {"block 1 first", true, 0xE3,
         [](uint8_t* o, const Bytes& i) { return buildDataCommand(o, i, 1, 256, 256, false); }},
        {"last-block number on block 0", true, 0xE3,
         [](uint8_t* o, const Bytes& i) { return buildDataCommand(o, i, 0, 256, 256, true); }},
        {"short block 0", true, 0xE4,
         [](uint8_t* o, const Bytes& i) { return buildDataCommand(o, i, 0, 256, 200, false); }},
        {"wrong offset", true, 0xE5, [](uint8_t* o, const Bytes& i) {
             size_t n = buildDataCommand(o, i, 0, 256, 256, false);
             o[5] = 0x10;
             return n;
         }, true},
        {"wrong CRC", true, 0xE2, [](uint8_t* o, const Bytes&) {
             size_t n = buildFinishCommand(o, 0);
             o[n - 1] ^= 1;
             return n;
         }},
        {"unknown command", true, 0xE0, [](uint8_t* o, const Bytes&) {
             size_t n = buildFinishCommand(o, 0);
             o[0] = 0xA7;
             return n;
         }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimLink link;
        if (c.header) {
            ASSERT_EQ(test::transact(link.connection, buildHeaderCommand(link.connection.request(), image)), 0);
        }
        uint8_t* request = link.connection.request();
        const size_t length = c.build(request, image);
        if (c.reseal) reseal(request, length);
        EXPECT_EQ(test::transact(link.connection, length), c.status);
        EXPECT_FALSE(link.device->upgradePassed());
    }
}

}  // namespace
}  // namespace iap
