// Report framing, cutting business packs into transfer packs, and the
// failures of one exchange.
#include <gtest/gtest.h>

#include <stdexcept>

#include "link/exceptions.h"
#include "link/packets.h"
#include "scripted_device.h"

namespace iap {
namespace {

using test::Bytes;
using test::ScriptedLink;

uint16_t sequenceOf(const Bytes& r) { return static_cast<uint16_t>(r[3] | (r[4] << 8)); }
size_t lengthOf(const Bytes& r) { return static_cast<size_t>(r[5] | (r[6] << 8)); }

TEST(Channel, WorkedReportOfTheSwitchCommand) {
    ScriptedLink link;
    link.answerPack(Bytes{0xB0, 0, 0, 0, 0, 0, 0});
    uint8_t pack[7];
    buildToBootCommand(pack, 500);
    link.connection.sendBusinessPack(pack, 7, 100);
    ASSERT_EQ(link.written.size(), 1u);
    const Bytes& r = link.written[0];
    ASSERT_EQ(r.size(), 64u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 15),
              (Bytes{0x01, 0xAA, 0x00, 0x00, 0x80, 0x07, 0x00, 0xC0, 0x02, 0x00, 0xF4, 0x01, 0xA9, 0xA2, 0xBB}));
}

TEST(Channel, BusinessPacksAreCutInto56ByteTransferPacks) {
    struct Case {
        size_t total;
        std::vector<size_t> lengths;
        std::vector<uint16_t> sequences;
    };
    const std::vector<Case> cases = {
        {7, {7}, {0x8000}},
        {67, {56, 11}, {0x8001, 0x0000}},
        {133, {56, 56, 21}, {0x8002, 0x0001, 0x0000}},
        {112, {56, 56}, {0x8001, 0x0000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.total);
        ScriptedLink link;
        for (size_t i = 0; i < c.lengths.size(); ++i) link.answerPack(Bytes{0xB0, 0, 0, 0, 0, 0, 0});
        Bytes pack(c.total);
        for (size_t i = 0; i < pack.size(); ++i) pack[i] = static_cast<uint8_t>(i);
        link.connection.sendBusinessPack(pack.data(), pack.size(), 100);
        ASSERT_EQ(link.written.size(), c.lengths.size());
        EXPECT_TRUE(link.reads.empty());  // one read per write
        Bytes joined;
        for (size_t i = 0; i < c.lengths.size(); ++i) {
            const Bytes& r = link.written[i];
            EXPECT_EQ(r[0], 0x01);
            EXPECT_EQ(r[1], 0xAA);
            EXPECT_EQ(r[2], 0x00);
            EXPECT_EQ(sequenceOf(r), c.sequences[i]);
            EXPECT_EQ(lengthOf(r), c.lengths[i]);
            uint8_t x = 0;
            for (size_t k = 2; k < 7 + c.lengths[i]; ++k) x ^= r[k];
            EXPECT_EQ(r[7 + c.lengths[i]], x);
            joined.insert(joined.end(), r.begin() + 7, r.begin() + 7 + static_cast<long>(c.lengths[i]));
        }
        EXPECT_EQ(joined, pack);
    }
}

TEST(Channel, ExchangeFailures) {
    Bytes pack(133, 0x11);
    {
        ScriptedLink link;  // no answer to the first of three packs
        EXPECT_THROW(link.connection.sendBusinessPack(pack.data(), pack.size(), 10), timeout_exception);
        EXPECT_EQ(link.written.size(), 1u);
    }
    {
        ScriptedLink link;
        link.device->writeResult = -1;
        try {
            link.connection.sendBusinessPack(pack.data(), 7, 10);
            FAIL();
        } catch (const timeout_exception&) {
            FAIL();
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "hid_set_report failed");
        }
        EXPECT_TRUE(link.reads.empty());
    }
    {
        ScriptedLink link;
        link.reads.push_back({-1, {}});
        try {
            link.connection.exchange(pack.data(), 7, 0, true, 10);
            FAIL();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "hid_get_report failed");
        }
    }
    {
        ScriptedLink link;  // a payload that does not fit one report is refused, not cut short
        EXPECT_THROW(link.connection.exchange(pack.data(), 57, 0, true, 10), std::length_error);
        EXPECT_TRUE(link.written.empty());
    }
    {
        DeviceConnection closed;  // no device in the record
        try {
            closed.exchange(pack.data(), 7, 0, true, 10);
            FAIL();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "hid_set_report failed");
        }
    }
}

TEST(Channel, ExceptionTypesCarryNoTextOfTheirOwn) {
    const timeout_exception t;
    const transfer_pack_exception p;
    const business_pack_exception b;
    const timeout_exception tCopy(t);
    const std::exception& asBase = b;
    EXPECT_STREQ(t.what(), "Unknown exception");
    EXPECT_STREQ(tCopy.what(), "Unknown exception");
    EXPECT_STREQ(p.what(), "Unknown exception");
    EXPECT_STREQ(asBase.what(), "Unknown exception");
}

TEST(Channel, TransferPackCheck) {
    ScriptedLink link;
    const Bytes good = ScriptedLink::packReport(Bytes{1, 2, 3}, 5, true);
    const uint8_t seven[7] = {};
    auto checked = [&](const Bytes& report) {
        link.answer(report);
        link.connection.exchange(seven, 7, 0, true, 10);
        return link.connection.checkTransferPack();
    };
    const TransferPack ok = checked(good);
    EXPECT_EQ(ok.length, 3u);
    EXPECT_TRUE(ok.first);
    EXPECT_EQ(ok.payload[2], 3);

    Bytes full(56, 0x77);
    EXPECT_EQ(checked(ScriptedLink::packReport(full, 0, false)).length, 56u);
    EXPECT_FALSE(checked(ScriptedLink::packReport(full, 0, false)).first);

    Bytes marker = good;
    marker[1] = 0xAB;
    EXPECT_THROW(checked(marker), transfer_pack_exception);
    Bytes sum = good;
    sum[7 + 3] ^= 0x40;
    EXPECT_THROW(checked(sum), transfer_pack_exception);
    Bytes reserved = good;  // the reserved byte is covered by the checksum
    reserved[2] = 0x01;
    EXPECT_THROW(checked(reserved), transfer_pack_exception);
    // A length field above 56 would put the checksum outside the report.
    for (uint16_t length : {57, 58, 0xFFFF}) {
        Bytes big = good;
        big[5] = static_cast<uint8_t>(length & 0xFF);
        big[6] = static_cast<uint8_t>(length >> 8);
        EXPECT_THROW(checked(big), transfer_pack_exception) << length;
    }
}

}  // namespace
}  // namespace iap
