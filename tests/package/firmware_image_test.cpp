// The 128-byte firmware image header the generator writes.
#include <gtest/gtest.h>

#include "link/crc16.h"
#include "package/byte_order.h"
#include "package/firmware_image.h"

namespace iap {
namespace {

std::vector<uint8_t> payloadOf(size_t n) {
    std::vector<uint8_t> payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(i ^ (i >> 8));
    return payload;
}

TEST(FirmwareImage, HeaderHoldsEveryFieldAndOtherwise0xFF) {
    ImageHeaderFields f;
    f.signature = "ABCD1234";
    f.chip = "STM32F103";
    f.item = "Keyboard";
    f.hwVersion = "V1.2.3";
    f.swVersion = "V4.5.6";
    f.blockSize = 256;
    f.deviceFlags = 0x1234;
    f.deviceWord = 0xA1B2C3D4;
    const std::vector<uint8_t> payload = payloadOf(144608);
    const std::vector<uint8_t> image = buildFirmwareImage(f, payload);
    ASSERT_EQ(image.size(), 128u + 144608u);
    const uint8_t* h = image.data();

    EXPECT_EQ(std::string(h, h + 8), "ABCD1234");
    EXPECT_EQ(h[8], 9);
    EXPECT_EQ(std::string(h + 9, h + 18), "STM32F103");
    EXPECT_EQ(h[24], 8);
    EXPECT_EQ(std::string(h + 25, h + 33), "Keyboard");
    EXPECT_EQ(std::string(h + 48, h + 54), "V1.2.3");
    EXPECT_EQ(std::string(h + 54, h + 60), "V4.5.6");
    EXPECT_EQ(loadU16(h + 60), 0x1234);
    EXPECT_EQ(loadU16(h + 66), 256);
    EXPECT_EQ(loadU32(h + 68), 565u);  // 144608 / 256 rounded up; the last block holds 224
    EXPECT_EQ(144608 - 564 * 256, 224);
    EXPECT_EQ(loadU32(h + 106), 0xA1B2C3D4u);
    EXPECT_EQ(loadU32(h + 110), 144608u);
    // CRCs high byte first.
    const uint16_t payloadCrc = crc16Modbus(payload.data(), payload.size());
    EXPECT_EQ(h[62], payloadCrc >> 8);
    EXPECT_EQ(h[63], payloadCrc & 0xFF);
    const uint16_t headerCrc = crc16Modbus(h, 126);
    EXPECT_EQ(h[126], headerCrc >> 8);
    EXPECT_EQ(h[127], headerCrc & 0xFF);

    // Every byte no field claims is 0xFF.
    std::vector<bool> claimed(128, false);
    auto claim = [&](size_t from, size_t n) {
        for (size_t i = from; i < from + n; ++i) claimed[i] = true;
    };
    claim(0, 8), claim(8, 1 + 9), claim(24, 1 + 8), claim(48, 12), claim(60, 2), claim(62, 2);
    claim(66, 2), claim(68, 4), claim(106, 4), claim(110, 4), claim(126, 2);
    for (size_t i = 0; i < 128; ++i) {
        if (!claimed[i]) {
            EXPECT_EQ(h[i], 0xFF) << "byte " << i;
        }
    }

    const ImageHeaderView v = readImageHeader(image);
    EXPECT_EQ(v.chip, "STM32F103");
    EXPECT_EQ(v.payloadCrc, v.payloadCrcComputed);
    EXPECT_EQ(v.headerCrc, v.headerCrcComputed);
    EXPECT_EQ(v.blockCount, 565u);
    EXPECT_TRUE(firmwareEngineProblem(image).empty());
}

TEST(FirmwareImage, BrokenCrcsAreSeen) {
    std::vector<uint8_t> image = buildFirmwareImage({}, payloadOf(1000));
    image[500] ^= 0xFF;  // payload
    image[30] ^= 0x01;   // header
    const ImageHeaderView v = readImageHeader(image);
    EXPECT_NE(v.payloadCrc, v.payloadCrcComputed);
    EXPECT_NE(v.headerCrc, v.headerCrcComputed);
}

TEST(FirmwareImage, FieldsThatCannotBeWrittenAreRefused) {
    const std::vector<uint8_t> payload = payloadOf(100);
    auto refuses = [&](auto change) {
        ImageHeaderFields f;
        change(f);
        EXPECT_THROW(buildFirmwareImage(f, payload), std::invalid_argument);
    };
    refuses([](ImageHeaderFields& f) { f.signature = "SHORT"; });
    refuses([](ImageHeaderFields& f) { f.signature = "TOO-LONG!"; });
    refuses([](ImageHeaderFields& f) { f.chip = "0123456789ABCDEF"; });  // 16 > 15
    refuses([](ImageHeaderFields& f) { f.item = "caf\xC3\xA9"; });
    refuses([](ImageHeaderFields& f) { f.hwVersion = "1.0.0"; });
    refuses([](ImageHeaderFields& f) { f.swVersion = "V10.0.0"; });
    refuses([](ImageHeaderFields& f) { f.blockSize = 0; });
    refuses([](ImageHeaderFields& f) { f.blockSize = 8193; });
    EXPECT_THROW(buildFirmwareImage({}, {}), std::invalid_argument);
    ImageHeaderFields one;
    one.blockSize = 1;
    EXPECT_NO_THROW(buildFirmwareImage(one, payloadOf(65535)));
    EXPECT_THROW(buildFirmwareImage(one, payloadOf(65536)), std::invalid_argument);
}

}  // namespace
}  // namespace iap
