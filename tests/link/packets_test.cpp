// CRC-16/MODBUS, the command builders and the status messages.
#include <gtest/gtest.h>

#include <string>

#include "link/crc16.h"
#include "link/packets.h"
#include "link/status_codes.h"
#include "link_fixtures.h"

namespace iap {
namespace {

using test::Bytes;

TEST(Commands, WorkedBytesAndTheHeader) {
    const std::string check = "123456789";  // the CRC-16/MODBUS check value
    EXPECT_EQ(crc16Modbus(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    Bytes out(8208);
    out.resize(buildFinishCommand(out.data(), 500));
    EXPECT_EQ(out, (Bytes{0xA4, 0x02, 0x00, 0xF4, 0x01, 0x61, 0xD3}));
    out.resize(buildToBootCommand(out.data(), 500));
    EXPECT_EQ(out, (Bytes{0xC0, 0x02, 0x00, 0xF4, 0x01, 0xA9, 0xA2}));

    const Bytes image = test::makeImage({300, 0x1234});
    EXPECT_EQ(imageBlockSize(image), 0x1234);
    out.resize(8208);
    ASSERT_EQ(buildHeaderCommand(out.data(), image), 133u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{0xA0, 0x80, 0x00}));
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 128, out.begin() + 3));
    EXPECT_EQ(loadCrcHighFirst(out.data() + 131), crc16Modbus(out.data(), 131));
}

TEST(Commands, DataBlocksCutThePayloadAfterTheHeader) {
    const struct {
        size_t payload;
        uint16_t blockSize;
        std::vector<uint32_t> lengths;
    } cases[] = {
        {1000, 256, {256, 256, 256, 232}},
        {768, 256, {256, 256, 256}},  // exact multiple: the last block is full
        {100, 256, {100}},            // one block
    };
    Bytes out(8208);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        const Bytes image = test::makeImage({c.payload, c.blockSize});
        const uint32_t count = blockCount(static_cast<uint32_t>(c.payload), c.blockSize);
        ASSERT_EQ(count, c.lengths.size());
        EXPECT_EQ(lastBlockSize(static_cast<uint32_t>(c.payload), c.blockSize), c.lengths.back());
        Bytes joined;
        for (uint32_t k = 0; k < count; ++k) {
            const bool last = k + 1 == count;
            const size_t n = buildDataCommand(out.data(), image, k, c.blockSize, c.lengths[k], last);
            ASSERT_EQ(n, c.lengths[k] + 11);
            EXPECT_EQ(out[0], 0xA1);
            EXPECT_EQ(out[1] | (out[2] << 8), static_cast<int>(c.lengths[k] + 6));
            EXPECT_EQ(out[3] | (out[4] << 8), last ? 0xFFFF : static_cast<int>(k));
            EXPECT_EQ(out[5] | (out[6] << 8) | (out[7] << 16) | (out[8] << 24), static_cast<int>(k * c.blockSize));
            EXPECT_EQ(loadCrcHighFirst(out.data() + n - 2), crc16Modbus(out.data(), n - 2));
            joined.insert(joined.end(), out.begin() + 9, out.begin() + 9 + c.lengths[k]);
        }
        EXPECT_EQ(joined, Bytes(image.begin() + 128, image.end()));
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
        {0x00, "success!"},
        {0xE0, "invalid cmd"},
        {0xE1, "length error"},
        {0xE2, "CRC error"},
        {0xE3, "block number error"},
        {0xE4, "block size error"},
        {0xE5, "write offset error"},
        {0xE6, "read offset error"},
        {0xE7, "parameter error"},
        {0xE8, "flash operation failed"},
        {0xE9, "condition not satisfied"},
        {0xF0, "[header] error: upgradeFlag"},
        {0xF1, "[HEADER] error: chipID"},
        {0xF2, "[HEADER] error: itemInfo"},
        {0xF3, "[HEADER] error: HW version"},
        {0xF4, "[HEADER] error: SW version"},
        {0xF5, "[HEADER] error: CHECK INFO"},
        {0xF6, "[HEADER] error: BLOCK INFO"},
        {0xF7, "[HEADER] error: upgrade type"},
        {0xF8, "[HEADER] error: encrypt"},
        {0xF9, "[HEADER] error: headerCRC"},
        {0xFA, "[HEADER] error: load address"},
        {0xFB, "[HEADER] error: bin size"},
    };
    for (const auto& [code, message] : table) EXPECT_EQ(statusMessage(code), message) << std::hex << code;
    size_t unknown = 0;
    for (unsigned code = 0; code < 0x100; ++code) unknown += statusMessage(code) == "unknown error";
    EXPECT_EQ(unknown, 256 - std::size(table));
    for (unsigned code : {0x100u, 0x1E2u, 0xFFFFFFFFu}) EXPECT_EQ(statusMessage(code), "unknown error");
}

}  // namespace
}  // namespace iap
