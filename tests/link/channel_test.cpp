// Report framing, cutting business packs into transfer packs, the failures of
// one exchange, and taking the response from the received reports.
#include <gtest/gtest.h>

#include <stdexcept>

#include "link/exceptions.h"
#include "link/packets.h"
#include "link/response_assembler.h"
#include "link_fixtures.h"

namespace iap {
namespace {

using test::Bytes;
using test::packReport;
using test::ScriptedLink;

const Bytes kAck = test::makeResponse(0);

// The text of what a call throws: "timeout", "transfer", "business", or
// the description of any other standard exception.
template <typename F>
std::string thrown(F&& call) {
    try {
        call();
    } catch (const timeout_exception&) {
        return "timeout";
    } catch (const transfer_pack_exception&) {
        return "transfer";
    } catch (const business_pack_exception&) {
        return "business";
    } catch (const std::exception& e) {
        return e.what();
    }
    return "nothing";
}

TEST(Channel, WorkedReportAndCuttingInto56BytePacks) {
    ScriptedLink worked;
    worked.answer(packReport(kAck));
    uint8_t toBoot[7];
    worked.connection.sendBusinessPack(toBoot, buildToBootCommand(toBoot, 500), 100);
    ASSERT_EQ(worked.written.size(), 1u);
    ASSERT_EQ(worked.written[0].size(), 64u);
    EXPECT_EQ(Bytes(worked.written[0].begin(), worked.written[0].begin() + 15),
              (Bytes{0x01, 0xAA, 0x00, 0x00, 0x80, 0x07, 0x00, 0xC0, 0x02, 0x00, 0xF4, 0x01, 0xA9, 0xA2, 0xBB}));

    const struct {
        size_t total;
        std::vector<size_t> lengths;
        std::vector<uint16_t> sequences;
    } cases[] = {{7, {7}, {0x8000}}, {67, {56, 11}, {0x8001, 0}}, {133, {56, 56, 21}, {0x8002, 1, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        ScriptedLink link;
        for (size_t i = 0; i < c.lengths.size(); ++i) link.answer(packReport(kAck));
        Bytes pack(c.total);
        for (size_t i = 0; i < pack.size(); ++i) pack[i] = static_cast<uint8_t>(i);
        link.connection.sendBusinessPack(pack.data(), pack.size(), 100);
        ASSERT_EQ(link.written.size(), c.lengths.size());
        EXPECT_TRUE(link.reads.empty());  // each write is followed by a read
        Bytes joined;
        for (size_t i = 0; i < c.lengths.size(); ++i) {
            const Bytes& r = link.written[i];
            const size_t n = c.lengths[i];
            EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), (Bytes{0x01, 0xAA, 0x00}));
            EXPECT_EQ(r[3] | (r[4] << 8), c.sequences[i]);
            EXPECT_EQ(static_cast<size_t>(r[5] | (r[6] << 8)), n);
            uint8_t x = 0;
            for (size_t k = 2; k < 7 + n; ++k) x ^= r[k];
            EXPECT_EQ(r[7 + n], x);
            joined.insert(joined.end(), r.begin() + 7, r.begin() + 7 + static_cast<long>(n));
        }
        EXPECT_EQ(joined, pack);
    }
}

TEST(Channel, ExchangeFailures) {
    const Bytes pack(133, 0x11);
    ScriptedLink noAnswer;  // no answer to the first of three packs
    EXPECT_EQ(thrown([&] { noAnswer.connection.sendBusinessPack(pack.data(), 133, 10); }), "timeout");
    EXPECT_EQ(noAnswer.written.size(), 1u);
    ScriptedLink writeFails;
    writeFails.writeResult = -1;
    writeFails.answer(packReport(kAck));
    EXPECT_EQ(thrown([&] { writeFails.connection.exchange(pack.data(), 7, 0, true, 10); }), "hid_set_report failed");
    EXPECT_EQ(writeFails.reads.size(), 1u);  // nothing read
    ScriptedLink readFails;
    readFails.answer({}, -1);
    EXPECT_EQ(thrown([&] { readFails.connection.exchange(pack.data(), 7, 0, true, 10); }), "hid_get_report failed");
    ScriptedLink tooLong;  // refused, not cut short
    EXPECT_EQ(thrown([&] { tooLong.connection.exchange(pack.data(), 57, 0, true, 10); }),
              "transfer pack longer than 56 bytes");
    EXPECT_TRUE(tooLong.written.empty());
    DeviceConnection noDevice;
    EXPECT_EQ(thrown([&] { noDevice.exchange(pack.data(), 7, 0, true, 10); }), "hid_set_report failed");
    const timeout_exception timeout;
    const std::exception& copied = timeout_exception(timeout);
    EXPECT_STREQ(copied.what(), "Unknown exception");
    EXPECT_STREQ(transfer_pack_exception().what(), "Unknown exception");
    EXPECT_STREQ(business_pack_exception().what(), "Unknown exception");
}

TEST(Channel, TransferPackCheck) {
    ScriptedLink link;
    auto checked = [&](const Bytes& report, int result = 64) {
        link.answer(report, result);
        link.connection.exchange(kAck.data(), 7, 0, true, 10);
        return link.connection.checkTransferPack();
    };
    const Bytes good = packReport(Bytes{1, 2, 3}, 5, true);
    const TransferPack ok = checked(good);
    EXPECT_EQ(Bytes(ok.payload, ok.payload + ok.length), (Bytes{1, 2, 3}));
    EXPECT_TRUE(ok.first);
    EXPECT_FALSE(checked(packReport(Bytes(56, 0x77), 0, false)).first);
    // A short read leaves no stale bytes of the previous report behind.
    link.answer(Bytes(64, 0x77));
    link.connection.exchange(kAck.data(), 7, 0, true, 10);
    link.answer(good, 12);
    EXPECT_EQ(link.connection.exchange(kAck.data(), 7, 0, true, 10), 12);
    EXPECT_EQ(Bytes(link.connection.report() + 12, link.connection.report() + 64), Bytes(52, 0));

    std::vector<Bytes> bad(6, good);
    bad[0][1] = 0xAB;   // marker
    bad[1][10] ^= 0x40;  // checksum
    bad[2][2] = 0x01;   // the reserved byte is covered by the checksum
    bad[3][5] = 57;     // a length above 56 would put the checksum outside the report
    bad[4][5] = 58;
    bad[5][5] = bad[5][6] = 0xFF;
    for (const Bytes& r : bad) EXPECT_EQ(thrown([&] { checked(r); }), "transfer");
}

// Answers a one-report command with reports (the first is the exchange's
// answer, the rest are read while the response is taken).
std::string receive(const std::vector<Bytes>& reports, ScriptedLink& link) {
    for (const Bytes& r : reports) link.answer(r);
    link.connection.sendBusinessPack(kAck.data(), 7, 20);
    return thrown([&] {
        const size_t length = link.connection.receiveBusinessPack(20);
        const uint8_t* response = link.connection.response();
        EXPECT_EQ(length, static_cast<size_t>(response[3] | (response[4] << 8)) + 7u);
    });
}

TEST(Response, ChecksOfTheBusinessPack) {
    ScriptedLink seven;
    EXPECT_EQ(receive({packReport(test::makeResponse(0xE2))}, seven), "nothing");
    EXPECT_EQ(seven.connection.response()[1], 0xE2);

    Bytes crc = kAck, lowFirst = kAck, huge = kAck, overshoot = kAck;
    crc[6] ^= 1;
    std::swap(lowFirst[5], lowFirst[6]);  // MODBUS order
    huge[3] = 0x07, huge[4] = 0x20;       // A = 8199
    overshoot.push_back(0);
    Bytes marker = packReport(kAck);
    marker[1] = 0x55;
    const std::vector<Bytes> longOne = test::cut(test::makeResponse(0, 100));
    Bytes longTail(longOne[1].begin() + 7, longOne[1].begin() + 7 + 51);
    longTail.push_back(0);
    const std::pair<std::vector<Bytes>, const char*> cases[] = {
        {{packReport(Bytes(kAck.begin(), kAck.begin() + 6))}, "business"},  // 6-byte first pack
        {{packReport(test::makeResponse(0, 0, 0xB1))}, "business"},
        {{packReport(crc)}, "business"},
        {{packReport(lowFirst)}, "business"},
        {{packReport(huge)}, "business"},
        {{packReport(overshoot)}, "business"},
        {{marker}, "transfer"},
        {{longOne[0]}, "timeout"},                                      // the second report never comes
        {{longOne[0], longOne[0]}, "business"},       // a first pack inside the response
        {{longOne[0], packReport(longTail, 0, false)}, "business"},  // overshoot by one
        {{longOne[0], packReport({}, 0, false)}, "business"},        // empty pack
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        ScriptedLink link;
        EXPECT_EQ(receive(cases[i].first, link), cases[i].second) << "case " << i;
    }
}

TEST(Response, LongResponseIsReadFromFurtherReports) {
    for (size_t dataLength : {49u, 50u, 8198u}) {
        SCOPED_TRACE(dataLength);
        ScriptedLink link;
        const Bytes pack = test::makeResponse(0, dataLength);
        EXPECT_EQ(receive(test::cut(pack), link), "nothing");
        EXPECT_TRUE(std::equal(pack.begin(), pack.end(), link.connection.response()));
        EXPECT_TRUE(link.reads.empty());
        EXPECT_EQ(link.written.size(), 1u);  // the further reports were read, not asked for
    }
    // A buffer smaller than the declared response is never written past.
    Bytes buffer(60, 0);
    ResponseAssembler assembler(buffer.data(), buffer.size());
    const std::vector<Bytes> reports = test::cut(test::makeResponse(0, 100));
    EXPECT_FALSE(assembler.feed(reports[0].data()));
    EXPECT_THROW(assembler.feed(reports[1].data()), business_pack_exception);
}

}  // namespace
}  // namespace iap
