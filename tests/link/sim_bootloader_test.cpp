// The simulated bootloader driven through the real link code: a byte-exact
// upgrade, the device's checks, and every fault it can play.
#include <gtest/gtest.h>

#include <stdexcept>

#include "link/connection.h"
#include "link/crc16.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "sim/sim_bus.h"
#include "test_image.h"

namespace iap {
namespace {

using sim::FaultKind;
using sim::Fault;
using test::upgrade;
using test::transact;

struct SimLink {
    sim::SimBus bus;
    std::shared_ptr<sim::SimDevice> device;
    DeviceConnection connection;

    explicit SimLink(sim::BootloaderConfig config = {}) {
        device = bus.attach(config);
        connection.record.handle = bus.openPath(device->path());
        connection.record.reportId = config.reportId;
    }
    uint8_t send(size_t length) { return transact(connection, length, 50); }
};

TEST(SimBootloader, UpgradeIsWrittenByteExact) {
    for (const auto& spec : {test::ImageSpec{1000, 256}, test::ImageSpec{768, 256}, test::ImageSpec{100, 256},
                             test::ImageSpec{20000, 8192}, test::ImageSpec{1, 1}}) {
        SCOPED_TRACE(spec.payloadSize);
        SimLink link;
        const std::vector<uint8_t> image = test::makeImage(spec);
        EXPECT_EQ(upgrade(link.connection, image), 0);
        const std::vector<uint8_t> flash = link.device->flash();
        EXPECT_TRUE(std::equal(image.begin() + 128, image.end(), flash.begin()));
        EXPECT_EQ(flash[spec.payloadSize], 0xFF);
        EXPECT_TRUE(link.device->upgradePassed());
        // Header, blocks, finish: one input report per output report.
        EXPECT_EQ(link.device->inputReports().size(), link.device->outputReports().size());
        const auto commands = link.device->commands();
        EXPECT_EQ(commands.size(), blockCount(static_cast<uint32_t>(spec.payloadSize), spec.blockSize) + 2);
        EXPECT_EQ(commands.front().code, CMD_HEADER);
        EXPECT_EQ(commands.back().code, CMD_FINISH);
    }
}

TEST(SimBootloader, ReportsCarryTheRecordsReportId) {
    sim::BootloaderConfig config;
    config.reportId = 0x42;
    SimLink link(config);
    EXPECT_EQ(upgrade(link.connection, test::makeImage({300, 256})), 0);
    for (const auto& r : link.device->outputReports()) EXPECT_EQ(r[0], 0x42);
    EXPECT_EQ(link.device->outputReports().size(), 3u + 5u + 1u + 1u);  // 133, 267, 55, 7 bytes
}

TEST(SimBootloader, HeaderChecks) {
    struct Case {
        const char* name;
        uint8_t status;
        void (*spoil)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"signature", 0xF0, [](std::vector<uint8_t>& h) { h[3] = 0x01; }},
        {"header crc", 0xF9, [](std::vector<uint8_t>& h) { h[127] ^= 1; }},
        {"zero length", 0xFB, [](std::vector<uint8_t>& h) { h[110] = h[111] = h[112] = h[113] = 0; }},
        {"block size 0", 0xF6, [](std::vector<uint8_t>& h) { h[66] = h[67] = 0; }},
        {"block size 8193", 0xF6, [](std::vector<uint8_t>& h) { h[66] = 0x01; h[67] = 0x20; }},
        {"block count", 0xF6, [](std::vector<uint8_t>& h) { h[68] = 5; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimLink link;
        std::vector<uint8_t> image = test::makeImage();
        c.spoil(image);
        if (c.status != 0xF9) test::resealHeader(image);
        EXPECT_EQ(upgrade(link.connection, image), c.status);
    }
    sim::BootloaderConfig config;
    config.expectedChipId = "CHIP-X2";
    SimLink chip(config);
    EXPECT_EQ(upgrade(chip.connection, test::makeImage()), 0xF1);
}

TEST(SimBootloader, CommandChecks) {
    const std::vector<uint8_t> image = test::makeImage({1000, 256});
    uint8_t* out = nullptr;
    {
        SimLink link;  // data before the header, finish before the blocks
        out = link.connection.request();
        EXPECT_EQ(link.send(buildDataCommand(out, image, 0, 256, 256, false)), 0xE9);
        EXPECT_EQ(link.send(buildHeaderCommand(out, image)), 0);
        EXPECT_EQ(link.send(buildFinishCommand(out, 0)), 0xE9);
        EXPECT_EQ(link.send(buildDataCommand(out, image, 1, 256, 256, false)), 0xE3);  // skipped block 0
    }
    {
        SimLink link;  // wrong offset, wrong length, last-block marker too early
        out = link.connection.request();
        EXPECT_EQ(link.send(buildHeaderCommand(out, image)), 0);
        size_t n = buildDataCommand(out, image, 0, 256, 256, false);
        out[5] = 0x10;
        storeCrcHighFirst(out + n - 2, crc16Modbus(out, n - 2));
        EXPECT_EQ(link.send(n), 0xE5);
        EXPECT_EQ(link.send(buildDataCommand(out, image, 0, 256, 200, false)), 0xE4);
        EXPECT_EQ(link.send(buildDataCommand(out, image, 0, 256, 256, true)), 0xE3);
        n = buildDataCommand(out, image, 0, 256, 256, false);
        out[20] ^= 1;  // damaged in transit
        EXPECT_EQ(link.send(n), 0xE2);
        out[0] = 0xA7;  // unknown command with a good CRC
        storeCrcHighFirst(out + n - 2, crc16Modbus(out, n - 2));
        EXPECT_EQ(link.send(n), 0xE0);
    }
    {
        SimLink link;  // the payload CRC is checked at finish
        std::vector<uint8_t> spoilt = image;
        spoilt[62] ^= 1;
        test::resealHeader(spoilt);
        EXPECT_EQ(upgrade(link.connection, spoilt), 0xF5);
        EXPECT_FALSE(link.device->upgradePassed());
    }
}

TEST(SimBootloader, ApplicationModeOnlyTakesTheSwitch) {
    sim::BootloaderConfig config;
    config.mode = sim::Mode::Application;
    SimLink link(config);
    EXPECT_EQ(link.device->productId(), config.appProductId);
    EXPECT_EQ(upgrade(link.connection, test::makeImage()), 0xE9);
    EXPECT_EQ(link.send(buildToBootCommand(link.connection.request(), 60000)), 0);
    EXPECT_EQ(link.device->mode(), sim::Mode::Application);  // until switchDelay has passed
}

TEST(SimBootloader, FaultsSurfaceAsTheLinksExceptions) {
    struct Case {
        FaultKind kind;
        int expected;  // 0 timeout, 1 transfer, 2 business, 3 hid_get_report
    };
    const Case cases[] = {
        {FaultKind::NoReply, 0},           {FaultKind::WrongMarker, 1},   {FaultKind::WrongChecksum, 1},
        {FaultKind::OversizeLength, 1},    {FaultKind::WrongCrc, 2},      {FaultKind::CrcLowFirst, 2},
        {FaultKind::WrongResponseCode, 2}, {FaultKind::ShortFirstPack, 2}, {FaultKind::HugeDataLength, 2},
        {FaultKind::Overshoot, 2},         {FaultKind::Disconnect, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        SimLink link;
        link.device->addFault(Fault::atCommand(c.kind, CMD_DATA, 1));
        int got = -1;
        try {
            upgrade(link.connection, test::makeImage());
        } catch (const timeout_exception&) {
            got = 0;
        } catch (const transfer_pack_exception&) {
            got = 1;
        } catch (const business_pack_exception&) {
            got = 2;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "hid_get_report failed");
            got = 3;
        }
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(link.device->commands().size(), 3u);  // header, blocks 0 and 1
    }
}

TEST(SimBootloader, StatusFaultAndIntermediateReplies) {
    SimLink link;
    link.device->addFault(Fault::statusAt(CMD_DATA, 0xE8, 2));
    // The answers to packs that do not end a command are never examined.
    link.device->addFault(Fault::atReport(FaultKind::WrongMarker, 0));
    link.device->addFault(Fault::atReport(FaultKind::OversizeLength, 4));
    EXPECT_EQ(upgrade(link.connection, test::makeImage()), 0xE8);
    EXPECT_EQ(link.device->commands().back().status, 0xE8);
}

TEST(SimBootloader, DisconnectEndsTheDevice) {
    SimLink link;
    link.device->addFault(Fault::atReport(FaultKind::Disconnect, 1));  // inside the header
    EXPECT_THROW(upgrade(link.connection, test::makeImage()), std::runtime_error);
    EXPECT_FALSE(link.device->present());
    EXPECT_TRUE(link.bus.enumerate().empty());
    const uint8_t pack[7] = {};
    try {
        link.connection.exchange(pack, 7, 0, true, 10);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "hid_set_report failed");
    }
}

TEST(SimBootloader, LongResponsesTravelInSeveralReports) {
    sim::BootloaderConfig config;
    config.responseDataLength = 120;  // 127 bytes: three reports
    SimLink link(config);
    EXPECT_EQ(upgrade(link.connection, test::makeImage({600, 256})), 0);
    EXPECT_EQ(link.device->inputReports().size(), link.device->outputReports().size() + 2 * 5);
}

}  // namespace
}  // namespace iap
