// The 128-byte firmware image header the generator writes.
#include <gtest/gtest.h>

#include "bytes/byte_order.h"
#include "bytes/checksums.h"
#include "bytes/firmware_image.h"
#include "support/test_packages.h"

namespace iap {
namespace {

TEST(FirmwareImage, HeaderHoldsEveryFieldAndOtherwise0xFF) {
    const ImageHeaderFields f{"ABCD1234", "STM32F103", "Keyboard", "V1.2.3", "V4.5.6", 256, 0x1234, 0xA1B2C3D4};
    std::vector<uint8_t> payload(144608);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i ^ (i >> 8));
    std::vector<uint8_t> image = buildFirmwareImage(f, payload);
    ASSERT_EQ(image.size(), 128u + 144608u);
    const uint8_t* h = image.data();
    const uint16_t payloadCrc = crc16Modbus(payload.data(), payload.size());
    const uint16_t headerCrc = crc16Modbus(h, 126);
    const std::string text(h, h + 60);
    EXPECT_EQ(text.substr(0, 18), "ABCD1234\x09STM32F103");
    EXPECT_EQ(text.substr(24, 9), "\x08Keyboard");
    EXPECT_EQ(text.substr(48, 12), "V1.2.3V4.5.6");
    EXPECT_EQ(loadU16(h + 60), 0x1234);
    EXPECT_EQ(h[62] << 8 | h[63], payloadCrc);  // CRCs high byte first
    EXPECT_EQ(loadU16(h + 66), 256);
    EXPECT_EQ(loadU32(h + 68), 565u);  // 564 blocks of 256 and a last one of 224
    EXPECT_EQ(loadU32(h + 106), 0xA1B2C3D4u);
    EXPECT_EQ(loadU32(h + 110), 144608u);
    EXPECT_EQ(h[126] << 8 | h[127], headerCrc);
    for (auto [from, to] : {std::pair{18, 24}, {33, 48}, {64, 66}, {72, 106}, {114, 126}}) {
        for (int i = from; i < to; ++i) EXPECT_EQ(h[i], 0xFF) << "byte " << i;
    }
    EXPECT_TRUE(firmwareEngineProblem(image).empty());

    image[500] ^= 0xFF;  // payload
    image[30] ^= 0x01;   // header
    const ImageHeaderView v = readImageHeader(image);
    EXPECT_EQ(v.chip, "STM32F103");
    EXPECT_EQ(v.payloadCrc, payloadCrc);
    EXPECT_NE(v.payloadCrcComputed, payloadCrc);
    EXPECT_EQ(v.headerCrc, headerCrc);
    EXPECT_NE(v.headerCrcComputed, headerCrc);
}

TEST(FirmwareImage, TheGeneratorWritesOnlyWhatTheEngineTakes) {
    EXPECT_NO_THROW(test::testFirmware(65535, 1));
    EXPECT_THROW(test::testFirmware(65536, 1), std::invalid_argument);
    EXPECT_THROW(test::testFirmware(0), std::invalid_argument);
    EXPECT_THROW(test::testFirmware(10, 8193), std::invalid_argument);
    ImageHeaderFields f;
    f.chip = "0123456789ABCDEF";  // 16 characters do not fit behind the length byte
    EXPECT_THROW(buildFirmwareImage(f, std::vector<uint8_t>(10)), std::invalid_argument);
}

}  // namespace
}  // namespace iap
