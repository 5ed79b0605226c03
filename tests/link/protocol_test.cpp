// The IAP protocol on a scripted device: CRC-16/MODBUS, the command builders,
// the status messages, report framing and cutting into transfer packs, the
// failures of one exchange, and taking the response from the received reports.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

#include "bytes/checksums.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "link/response_assembler.h"
#include "link/status_codes.h"
#include "support/link_fixtures.h"

namespace iap {
namespace {

using test::Bytes;

TEST(Commands, WorkedBytesAndDataBlocks) {
    const std::string check = "123456789";  // the CRC-16/MODBUS check value
    EXPECT_EQ(crc16Modbus(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    Bytes out(8208);
    out.resize(buildFinishCommand(out.data(), 500));
    EXPECT_EQ(out, (Bytes{0xA4, 0x02, 0x00, 0xF4, 0x01, 0x61, 0xD3}));
    out.resize(buildToBootCommand(out.data(), 500));
    EXPECT_EQ(out, (Bytes{0xC0, 0x02, 0x00, 0xF4, 0x01, 0xA9, 0xA2}));

    // 1000 payload bytes in blocks of 256 (the simulated bootloader checks
    // other cuts in its byte-exact upgrades).
    const Bytes image = test::makeImage({1000, 256});
    ASSERT_EQ(blockCount(1000, 256), 4u);
    EXPECT_EQ(lastBlockSize(1000, 256), 232);
    const uint32_t lengths[] = {256, 256, 256, 232};
    out.resize(8208);
    for (uint32_t k = 0; k < 4; ++k) {
        const size_t n = buildDataCommand(out.data(), image, k, 256, lengths[k], k == 3);
        ASSERT_EQ(n, lengths[k] + 11);
        EXPECT_EQ(out[0], 0xA1);
        EXPECT_EQ(out[1] | (out[2] << 8), static_cast<int>(lengths[k] + 6));
        EXPECT_EQ(out[3] | (out[4] << 8), k == 3 ? 0xFFFF : static_cast<int>(k));
        EXPECT_EQ(out[5] | (out[6] << 8) | (out[7] << 16) | (out[8] << 24), static_cast<int>(k * 256));
        EXPECT_TRUE(std::equal(out.begin() + 9, out.begin() + 9 + lengths[k], image.begin() + 128 + k * 256));
        EXPECT_EQ(loadCrcHighFirst(out.data() + n - 2), crc16Modbus(out.data(), n - 2));
    }
    // A block the image does not hold is padded with zeros, not read past it.
    const Bytes shortImage = test::makeImage({10, 256});
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(buildDataCommand(out.data(), shortImage, 0, 256, 20, true), 31u);
    EXPECT_TRUE(std::equal(shortImage.begin() + 128, shortImage.end(), out.begin() + 9));
    EXPECT_EQ(Bytes(out.begin() + 19, out.begin() + 29), Bytes(10, 0));
}

TEST(StatusCodes, EveryMessageWordForWord) {
    const std::pair<unsigned, const char*> table[] = {
        {0x00, "success!"}, {0xE0, "invalid cmd"},
        {0xE1, "length error"}, {0xE2, "CRC error"},
        {0xE3, "block number error"}, {0xE4, "block size error"},
        {0xE5, "write offset error"}, {0xE6, "read offset error"},
        {0xE7, "parameter error"}, {0xE8, "flash operation failed"},
        {0xE9, "condition not satisfied"}, {0xF0, "[header] error: upgradeFlag"},
        {0xF1, "[HEADER] error: chipID"}, {0xF2, "[HEADER] error: itemInfo"},
        {0xF3, "[HEADER] error: HW version"}, {0xF4, "[HEADER] error: SW version"},
        {0xF5, "[HEADER] error: CHECK INFO"}, {0xF6, "[HEADER] error: BLOCK INFO"},
        {0xF7, "[HEADER] error: upgrade type"}, {0xF8, "[HEADER] error: encrypt"},
        {0xF9, "[HEADER] error: headerCRC"}, {0xFA, "[HEADER] error: load address"},
        {0xFB, "[HEADER] error: bin size"},
    };
    for (const auto& [code, message] : table) EXPECT_EQ(statusMessage(code), message) << std::hex << code;
    size_t unknown = 0;
    for (unsigned code = 0; code < 0x100; ++code) unknown += statusMessage(code) == "unknown error";
    EXPECT_EQ(unknown, 256 - std::size(table));
    for (unsigned code : {0x100u, 0x1E2u, 0xFFFFFFFFu}) EXPECT_EQ(statusMessage(code), "unknown error");
}

// A connection (report ID 0x01) on a device that records each written report
// and answers reads from a script: > 0 delivers the report, 0 times out, < 0
// fails. As on a real device nothing is waiting before it was asked: a read
// that only polls (time-out 0) with every write answered finds nothing. The
// link is its own device; the record lets go of it, never frees it.
struct ScriptedLink : HidDevice {
    std::vector<Bytes> written;
    std::deque<std::pair<int, Bytes>> reads;
    int writeResult = 64;
    size_t readsTaken = 0;
    DeviceConnection connection;

    ScriptedLink() {
        connection.record.handle = std::unique_ptr<HidDevice>(this);
        connection.record.reportId = 0x01;
    }
    ~ScriptedLink() override { (void)connection.record.handle.release(); }
    int getReportDescriptor(uint8_t*, size_t) override { return -1; }
    int write(const uint8_t* data, size_t length) override {
        written.emplace_back(data, data + length);
        return writeResult;
    }
    int readTimeout(uint8_t* data, size_t length, int milliseconds) override {
        if (reads.empty() || (milliseconds == 0 && readsTaken >= written.size())) return 0;
        ++readsTaken;
        const auto [result, report] = reads.front();
        reads.pop_front();
        if (result > 0) std::memcpy(data, report.data(), std::min(length, report.size()));
        return result;
    }
    void answer(const Bytes& report, int result = 64) { reads.emplace_back(result, report); }
};

Bytes packReport(const Bytes& payload, uint16_t remaining = 0, bool first = true) {
    Bytes r(64, 0);
    frameTransferPack(r.data(), 0x01, payload.data(), payload.size(), remaining, first);
    return r;
}

// B0, status, 0, A, A bytes 0x33, CRC high byte first.
Bytes response(uint8_t status, size_t a = 0) {
    Bytes r(a + 7, 0x33);
    r[0] = 0xB0, r[1] = status, r[2] = 0, r[3] = static_cast<uint8_t>(a), r[4] = static_cast<uint8_t>(a >> 8);
    storeCrcHighFirst(r.data() + a + 5, crc16Modbus(r.data(), a + 5));
    return r;
}

// The reports in which the link sends a pack; each exchange must read its
// answer before the next write.
std::vector<Bytes> cut(const Bytes& pack) {
    ScriptedLink sender;
    for (size_t i = 0; i < pack.size(); i += 56) sender.answer(Bytes(64, 0));
    sender.connection.sendBusinessPack(pack.data(), pack.size(), 0);
    EXPECT_TRUE(sender.reads.empty());
    return sender.written;
}

const Bytes kAck = response(0);

TEST(Channel, WorkedReportAndCuttingInto56BytePacks) {
    const Bytes worked = cut({0xC0, 0x02, 0x00, 0xF4, 0x01, 0xA9, 0xA2})[0];
    EXPECT_EQ(Bytes(worked.begin(), worked.begin() + 15),
              (Bytes{0x01, 0xAA, 0x00, 0x00, 0x80, 0x07, 0x00, 0xC0, 0x02, 0x00, 0xF4, 0x01, 0xA9, 0xA2, 0xBB}));
    const struct {
        size_t total;
        std::vector<size_t> lengths;
        std::vector<uint16_t> sequences;
    } cases[] = {{7, {7}, {0x8000}}, {67, {56, 11}, {0x8001, 0}}, {133, {56, 56, 21}, {0x8002, 1, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        Bytes pack(c.total);
        for (size_t i = 0; i < pack.size(); ++i) pack[i] = static_cast<uint8_t>(i);
        const std::vector<Bytes> reports = cut(pack);  // one exchange, write then read, each
        ASSERT_EQ(reports.size(), c.lengths.size());
        Bytes joined;
        for (size_t i = 0; i < reports.size(); ++i) {
            const Bytes& r = reports[i];
            EXPECT_EQ(r.size(), 64u);
            EXPECT_EQ(r[3] | (r[4] << 8), c.sequences[i]);
            EXPECT_EQ(static_cast<size_t>(r[5] | (r[6] << 8)), c.lengths[i]);
            EXPECT_NO_THROW(parseTransferPack(r.data()));  // marker and checksum
            joined.insert(joined.end(), r.begin() + 7, r.begin() + 7 + static_cast<long>(c.lengths[i]));
        }
        EXPECT_EQ(joined, pack);
    }
}

TEST(Channel, ExchangeFailuresAndTheTransferPackCheck) {
    const Bytes pack(133, 0x11);
    ScriptedLink link;
    EXPECT_EQ(test::outcome([&] { link.connection.sendBusinessPack(pack.data(), 133, 10); }), "timeout");
    EXPECT_EQ(link.written.size(), 1u);  // no answer to the first of three packs
    link.answer({}, -1);
    EXPECT_EQ(test::outcome([&] { link.connection.exchange(pack.data(), 7, 0, true, 10); }), "hid_get_report failed");
    EXPECT_EQ(test::outcome([&] { link.connection.exchange(pack.data(), 57, 0, true, 10); }),
              "transfer pack longer than 56 bytes");  // refused, not cut short
    EXPECT_EQ(link.written.size(), 2u);
    link.writeResult = -1;
    link.answer(packReport(kAck));
    EXPECT_EQ(test::outcome([&] { link.connection.exchange(pack.data(), 7, 0, true, 10); }), "hid_set_report failed");
    EXPECT_EQ(link.reads.size(), 1u);  // nothing read
    DeviceConnection noDevice;
    EXPECT_EQ(test::outcome([&] { noDevice.exchange(pack.data(), 7, 0, true, 10); }), "hid_set_report failed");
    const timeout_exception timeout;
    const std::exception& copied = timeout_exception(timeout);
    EXPECT_STREQ(copied.what(), "Unknown exception");
    EXPECT_STREQ(transfer_pack_exception().what(), "Unknown exception");
    EXPECT_STREQ(business_pack_exception().what(), "Unknown exception");

    ScriptedLink check;
    auto checked = [&](const Bytes& report, int result = 64) {
        check.answer(report, result);
        check.connection.exchange(kAck.data(), 7, 0, true, 10);
        return check.connection.checkTransferPack();
    };
    const Bytes good = packReport(Bytes{1, 2, 3}, 5, true);
    const TransferPack ok = checked(good);
    EXPECT_EQ(Bytes(ok.payload, ok.payload + ok.length), (Bytes{1, 2, 3}));
    EXPECT_TRUE(ok.first);
    EXPECT_FALSE(checked(packReport(Bytes(56, 0x77), 0, false)).first);
    checked(good, 12);  // a short read leaves no stale bytes of the previous report
    EXPECT_EQ(Bytes(check.connection.report() + 12, check.connection.report() + 64), Bytes(52, 0));
    std::vector<Bytes> bad(5, good);
    bad[0][1] = 0xAB;    // marker
    bad[1][10] ^= 0x40;  // checksum
    bad[2][2] = 0x01;    // the reserved byte is covered by the checksum
    bad[3][5] = 57;      // a length above 56 would put the checksum outside the report
    bad[4][5] = bad[4][6] = 0xFF;
    for (const Bytes& r : bad) EXPECT_EQ(test::outcome([&] { checked(r); }), "transfer");
}

// Answers a one-report command with reports (the first is the exchange's
// answer, the rest are read while the response is taken).
std::string receive(const std::vector<Bytes>& reports, ScriptedLink& link) {
    for (const Bytes& r : reports) link.answer(r);
    link.connection.sendBusinessPack(kAck.data(), 7, 20);
    return test::outcome([&] {
        const size_t length = link.connection.receiveBusinessPack(20);
        EXPECT_EQ(length, static_cast<size_t>(link.connection.response()[3] | (link.connection.response()[4] << 8)) + 7);
    });
}

TEST(Response, ChecksOfTheBusinessPack) {
    Bytes code = kAck, crc = kAck, lowFirst = kAck, huge = kAck, overshoot = kAck, marker = packReport(kAck);
    code[0] = 0xB1;
    crc[6] ^= 1;
    std::swap(lowFirst[5], lowFirst[6]);  // MODBUS order
    huge[3] = 0x07, huge[4] = 0x20;       // A = 8199
    overshoot.push_back(0);
    marker[1] = 0x55;
    const std::vector<Bytes> two = cut(response(0, 100));
    Bytes tail(two[1].begin() + 7, two[1].begin() + 7 + 51);
    tail.push_back(0);
    const std::pair<std::vector<Bytes>, const char*> cases[] = {
        {{packReport(Bytes(kAck.begin(), kAck.begin() + 6))}, "business"},  // 6-byte first pack
        {{packReport(code)}, "business"},
        {{packReport(crc)}, "business"},
        {{packReport(lowFirst)}, "business"},
        {{packReport(huge)}, "business"},
        {{packReport(overshoot)}, "business"},
        {{marker}, "transfer"},
        {{two[0]}, "timeout"},                                       // the second report never comes
        {{two[0], two[0]}, "business"},                              // a first pack inside the response
        {{two[0], packReport(tail, 0, false)}, "business"},          // overshoot by one byte
        {{two[0], packReport({}, 0, false)}, "business"},            // an empty pack
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        ScriptedLink link;
        EXPECT_EQ(receive(cases[i].first, link), cases[i].second) << "case " << i;
    }
}

TEST(Response, ResponsesOfOneOrMoreReports) {
    for (size_t a : {0u, 49u, 50u, 8198u}) {  // one, one, two and 147 reports
        ScriptedLink link;
        const Bytes pack = response(0xE2, a);
        EXPECT_EQ(receive(cut(pack), link), "nothing") << a;
        EXPECT_TRUE(std::equal(pack.begin(), pack.end(), link.connection.response()));
        EXPECT_TRUE(link.reads.empty());
        EXPECT_EQ(link.written.size(), 1u);  // the further reports were read, not asked for
    }
    Bytes buffer(60, 0);  // smaller than the declared response: never written past
    ResponseAssembler assembler(buffer.data(), buffer.size());
    const std::vector<Bytes> reports = cut(response(0, 100));
    EXPECT_FALSE(assembler.feed(reports[0].data()));
    EXPECT_THROW(assembler.feed(reports[1].data()), business_pack_exception);
}

}  // namespace
}  // namespace iap
