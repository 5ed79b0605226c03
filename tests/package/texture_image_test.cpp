// Package images as a context that lacks textures of any size, or caps a
// texture's side, can hold them.
#include <gtest/gtest.h>

#include "package/texture_image.h"

namespace iap {
namespace {

DecodedImage image(int width, int height) {
    DecodedImage img{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (size_t i = 0; i < img.rgba.size(); ++i) img.rgba[i] = uint8_t(i / 4 % width * 4 + i / 4 / width + i % 4);
    return img;
}

uint8_t at(const DecodedImage& img, int x, int y, int c = 0) {
    return img.rgba[(static_cast<size_t>(y) * img.width + x) * 4 + c];
}

TEST(TextureImage, PaddedToPowersOfTwoAndHalvedUntilItFitsTheCap) {
    const struct {
        int width, height;
        bool anyTextureSize;
        int maxSide;
        int texWidth, texHeight;
        float uvRight, uvBottom;
    } cases[] = {
        {600, 400, true, 0, 600, 400, 1.0f, 1.0f},          // any size, no cap: as it is
        {600, 400, false, 16384, 1024, 512, 600.0f / 1024, 400.0f / 512},
        {64, 32, false, 1024, 64, 32, 1.0f, 1.0f},          // already powers of two
        {2048, 300, true, 1024, 1024, 150, 1.0f, 1.0f},      // GDI Generic's cap, halved once
        {2047, 1500, false, 512, 512, 512, 512.0f / 512, 375.0f / 512},  // twice, odd side rounded up
        {1, 1, false, 1, 1, 1, 1.0f, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " cap " + std::to_string(c.maxSide));
        const TextureImage t = textureImage(image(c.width, c.height), c.anyTextureSize, c.maxSide);
        EXPECT_EQ(t.pixels.width, c.texWidth);
        EXPECT_EQ(t.pixels.height, c.texHeight);
        EXPECT_EQ(t.pixels.rgba.size(), size_t(c.texWidth) * c.texHeight * 4);
        EXPECT_FLOAT_EQ(t.uvRight, c.uvRight);
        EXPECT_FLOAT_EQ(t.uvBottom, c.uvBottom);
    }

    // Padding repeats the last column and row; halving averages 2 x 2 blocks.
    const DecodedImage src = image(5, 3);
    const TextureImage padded = textureImage(image(5, 3), false, 0);
    EXPECT_EQ(at(padded.pixels, 2, 1, 3), at(src, 2, 1, 3));
    EXPECT_EQ(at(padded.pixels, 7, 1), at(src, 4, 1));
    EXPECT_EQ(at(padded.pixels, 7, 3), at(src, 4, 2));
    const TextureImage half = textureImage(image(5, 3), true, 4);
    ASSERT_EQ(half.pixels.width, 3);
    ASSERT_EQ(half.pixels.height, 2);
    EXPECT_EQ(at(half.pixels, 1, 0), (at(src, 2, 0) + at(src, 3, 0) + at(src, 2, 1) + at(src, 3, 1) + 2) / 4);
    EXPECT_EQ(at(half.pixels, 2, 1), at(src, 4, 2));  // the odd corner, averaged with itself
}

}  // namespace
}  // namespace iap
