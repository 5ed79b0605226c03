// CRC-16/MODBUS, command builders, block arithmetic and status messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/packets.h"
#include "link/status_codes.h"
#include "test_image.h"

namespace iap {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes built(size_t length, const uint8_t* out) { return Bytes(out, out + length); }

TEST(Crc16, ModbusCheckValueAndHighByteFirst) {
    const std::string check = "123456789";
    EXPECT_EQ(crc16Modbus(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    EXPECT_EQ(crc16Modbus(nullptr, 0), 0xFFFF);
    uint8_t stored[2];
    storeCrcHighFirst(stored, 0x4B37);
    EXPECT_EQ(stored[0], 0x4B);
    EXPECT_EQ(stored[1], 0x37);
    EXPECT_EQ(loadCrcHighFirst(stored), 0x4B37);
}

TEST(Commands, FinishAndToBootWorkedBytes) {
    uint8_t out[16];
    EXPECT_EQ(built(buildFinishCommand(out, 500), out), (Bytes{0xA4, 0x02, 0x00, 0xF4, 0x01, 0x61, 0xD3}));
    EXPECT_EQ(built(buildToBootCommand(out, 500), out), (Bytes{0xC0, 0x02, 0x00, 0xF4, 0x01, 0xA9, 0xA2}));
}

TEST(Commands, HeaderCarriesTheFirst128BytesUnchanged) {
    const Bytes image = test::makeImage();
    std::vector<uint8_t> out(8208);
    ASSERT_EQ(buildHeaderCommand(out.data(), image), 133u);
    EXPECT_EQ(out[0], 0xA0);
    EXPECT_EQ(out[1], 0x80);
    EXPECT_EQ(out[2], 0x00);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 128, out.begin() + 3));
    EXPECT_EQ(loadCrcHighFirst(out.data() + 131), crc16Modbus(out.data(), 131));
}

struct BlockCase {
    size_t payload;
    uint16_t blockSize;
    std::vector<uint32_t> lengths;
};

TEST(Commands, DataBlocksCutTheImageAfterItsHeader) {
    const std::vector<BlockCase> cases = {
        {1000, 256, {256, 256, 256, 232}},
        {768, 256, {256, 256, 256}},  // exact multiple: the last block is full
        {100, 256, {100}},            // one block
        {56, 56, {56}},
    };
    std::vector<uint8_t> out(8208);
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.payload);
        const Bytes image = test::makeImage({c.payload, c.blockSize});
        const uint32_t count = blockCount(static_cast<uint32_t>(c.payload), c.blockSize);
        ASSERT_EQ(count, c.lengths.size());
        EXPECT_EQ(lastBlockSize(static_cast<uint32_t>(c.payload), c.blockSize), c.lengths.back());
        Bytes rebuilt;
        for (uint32_t k = 0; k < count; ++k) {
            const bool last = k + 1 == count;
            const size_t n = buildDataCommand(out.data(), image, k, c.blockSize, c.lengths[k], last);
            ASSERT_EQ(n, c.lengths[k] + 11);
            EXPECT_EQ(out[0], 0xA1);
            EXPECT_EQ(out[1] | (out[2] << 8), static_cast<int>(c.lengths[k] + 6));
            EXPECT_EQ(out[3] | (out[4] << 8), last ? 0xFFFF : static_cast<int>(k));
            const uint32_t offset = out[5] | (out[6] << 8) | (out[7] << 16) | (static_cast<uint32_t>(out[8]) << 24);
            EXPECT_EQ(offset, k * c.blockSize);
            EXPECT_EQ(loadCrcHighFirst(out.data() + n - 2), crc16Modbus(out.data(), n - 2));
            rebuilt.insert(rebuilt.end(), out.begin() + 9, out.begin() + 9 + c.lengths[k]);
        }
        EXPECT_EQ(rebuilt, Bytes(image.begin() + 128, image.end()));
    }
}

TEST(Commands, BlockArithmeticOfALargeImage) {
    EXPECT_EQ(blockCount(144608, 256), 565u);
    EXPECT_EQ(lastBlockSize(144608, 256), 224);
    EXPECT_EQ(blockCount(8192, 8192), 1u);
    EXPECT_EQ(lastBlockSize(8192, 8192), 8192);
    EXPECT_EQ(imageBlockSize(test::makeImage({300, 0x1234})), 0x1234);
    EXPECT_EQ(imageBlockSize(Bytes(67, 0)), 0);
}

TEST(Commands, DataBlockNeverReadsPastTheImage) {
    // A block that the image does not hold (a caller's mistake) is padded
    // with zeros instead of reading beyond the vector.
    const Bytes image = test::makeImage({10, 256});
    std::vector<uint8_t> out(8208, 0xEE);
    const size_t n = buildDataCommand(out.data(), image, 0, 256, 20, true);
    EXPECT_EQ(n, 31u);
    EXPECT_TRUE(std::equal(image.begin() + 128, image.end(), out.begin() + 9));
    EXPECT_EQ(out[9 + 10], 0);
    EXPECT_EQ(out[9 + 19], 0);
}

TEST(StatusCodes, EveryMessageWordForWord) {
    const std::vector<std::pair<unsigned, std::string>> table = {
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
    for (const auto& [code, message] : table) {
        EXPECT_EQ(statusMessage(code), message) << std::hex << code;
    }
    size_t unknown = 0;
    for (unsigned code = 0; code < 0x100; ++code) {
        if (statusMessage(code) == "unknown error") ++unknown;
    }
    EXPECT_EQ(unknown, 256 - table.size());
    for (unsigned code : {0x01u, 0xDFu, 0xEAu, 0xEFu, 0xFCu, 0xFFu, 0x100u, 0x1E2u, 0xFFFFFFFFu}) {
        EXPECT_EQ(statusMessage(code), "unknown error") << std::hex << code;
    }
}

}  // namespace
}  // namespace iap
