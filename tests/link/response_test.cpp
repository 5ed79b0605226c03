// Taking a response from the received reports: the checks of the business
// pack and responses longer than one report.
#include <gtest/gtest.h>

#include "link/exceptions.h"
#include "link/response_assembler.h"
#include "scripted_device.h"

namespace iap {
namespace {

using test::Bytes;
using test::makeResponse;
using test::ScriptedLink;

const uint8_t kCommand[7] = {0xA4, 0x02, 0x00, 0xF4, 0x01, 0x61, 0xD3};

// Answers the single-report command with the given reports (the first one is
// the exchange's answer, the rest are read by receiveBusinessPack).
size_t receive(ScriptedLink& link, const std::vector<Bytes>& reports) {
    for (const Bytes& r : reports) link.answer(r);
    link.connection.sendBusinessPack(kCommand, sizeof kCommand, 20);
    return link.connection.receiveBusinessPack(20);
}

std::vector<Bytes> cut(const Bytes& pack) {
    std::vector<Bytes> reports;
    const size_t count = (pack.size() - 1) / 56 + 1;
    for (size_t i = 0; i < count; ++i) {
        const size_t n = std::min<size_t>(56, pack.size() - 56 * i);
        reports.push_back(ScriptedLink::packReport(Bytes(pack.begin() + 56 * i, pack.begin() + 56 * i + n),
                                                   static_cast<uint16_t>(count - 1 - i), i == 0));
    }
    return reports;
}

TEST(Response, SevenByteResponseIsAccepted) {
    ScriptedLink link;
    EXPECT_EQ(receive(link, cut(makeResponse(0xE2))), 7u);
    EXPECT_EQ(link.connection.response()[0], 0xB0);
    EXPECT_EQ(link.connection.response()[1], 0xE2);
}

TEST(Response, MalformedResponsesAreBusinessPackFailures) {
    std::vector<std::pair<const char*, Bytes>> cases;
    const Bytes good = makeResponse(0);
    cases.push_back({"six-byte first pack", Bytes(good.begin(), good.begin() + 6)});
    Bytes code = makeResponse(0, 0, 0xB1);
    cases.push_back({"response code", code});
    Bytes crc = good;
    crc[6] ^= 1;
    cases.push_back({"crc", crc});
    Bytes lowFirst = good;
    std::swap(lowFirst[5], lowFirst[6]);
    ASSERT_NE(lowFirst[5], lowFirst[6]);
    cases.push_back({"crc low byte first", lowFirst});
    Bytes huge = good;
    huge[3] = 0x07;  // A = 8199
    huge[4] = 0x20;
    cases.push_back({"data length 8199", huge});
    Bytes overshoot = good;
    overshoot.push_back(0);
    cases.push_back({"pack past the declared length", overshoot});
    for (const auto& [name, pack] : cases) {
        SCOPED_TRACE(name);
        ScriptedLink link;
        EXPECT_THROW(receive(link, {ScriptedLink::packReport(pack)}), business_pack_exception);
    }
    ScriptedLink link;
    Bytes marker = ScriptedLink::packReport(good);
    marker[1] = 0x55;
    EXPECT_THROW(receive(link, {marker}), transfer_pack_exception);
}

TEST(Response, LongResponseIsReadFromFurtherReports) {
    for (size_t dataLength : {49u, 50u, 100u, 8198u}) {
        SCOPED_TRACE(dataLength);
        ScriptedLink link;
        const Bytes pack = makeResponse(0, dataLength);
        EXPECT_EQ(receive(link, cut(pack)), dataLength + 7);
        EXPECT_TRUE(std::equal(pack.begin(), pack.end(), link.connection.response()));
        EXPECT_TRUE(link.reads.empty());
        EXPECT_EQ(link.written.size(), 1u);  // the extra reports were read, not asked for
    }
}

TEST(Response, LongResponseFailures) {
    const std::vector<Bytes> reports = cut(makeResponse(0, 100));
    {
        ScriptedLink link;  // the second report never comes
        EXPECT_THROW(receive(link, {reports[0]}), timeout_exception);
    }
    {
        ScriptedLink link;  // a new business pack inside the response
        EXPECT_THROW(receive(link, {reports[0], reports[0]}), business_pack_exception);
    }
    {
        ScriptedLink link;  // the last pack overshoots by one byte
        ASSERT_EQ(reports.size(), 2u);
        Bytes tail(reports[1].begin() + 7, reports[1].begin() + 7 + 51);
        tail.push_back(0);
        EXPECT_THROW(receive(link, {reports[0], ScriptedLink::packReport(tail, 0, false)}),
                     business_pack_exception);
    }
    {
        ScriptedLink link;  // an empty continuation pack
        EXPECT_THROW(receive(link, {reports[0], ScriptedLink::packReport({}, 0, false)}), business_pack_exception);
    }
}

TEST(Response, AssemblerNeverWritesPastItsBuffer) {
    // A buffer that is smaller than the declared response: the overflow is
    // a business pack failure, not a write past the end.
    Bytes buffer(60, 0);
    ResponseAssembler assembler(buffer.data(), buffer.size());
    const std::vector<Bytes> reports = cut(makeResponse(0, 100));
    EXPECT_FALSE(assembler.feed(reports[0].data()));
    EXPECT_THROW(assembler.feed(reports[1].data()), business_pack_exception);
}

}  // namespace
}  // namespace iap
