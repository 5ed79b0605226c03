// The built-in skin: sizes and formats of the table, and looks that work
// with what the window draws over them.
#include <gtest/gtest.h>

#include "default_skin.h"
#include "package/byte_order.h"
#include "package/texture.h"

namespace iap {
namespace {

float luminance(const DecodedImage& image, int x, int y) {
    const uint8_t* p = image.rgba.data() + (static_cast<size_t>(y) * image.width + x) * 4;
    return (0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2]) / 255.0f;
}

float meanLuminance(const DecodedImage& image, int x0, int y0, int x1, int y1) {
    float sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += luminance(image, x, y);
    return sum / static_cast<float>((x1 - x0) * (y1 - y0));
}

TEST(DefaultSkin, NineteenBitmapsOfTheTableSizes) {
    const std::vector<skin::SkinImage> images = skin::makeDefaultSkin();
    ASSERT_EQ(images.size(), 19u);
    for (size_t i = 0; i < images.size(); ++i) {
        const skin::SkinSlot& slot = skin::skinSlots()[i];
        const std::vector<uint8_t>& file = images[i].file;
        EXPECT_EQ(images[i].id, static_cast<int32_t>(i));
        ASSERT_GT(file.size(), 54u);
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(loadU16(file.data() + 28), slot.alpha ? 32 : 24) << slot.fileName;
        EXPECT_GT(static_cast<int32_t>(loadU32(file.data() + 22)), 0) << "bottom-up rows";
        const DecodedImage decoded = decodeImage(file);
        EXPECT_EQ(decoded.width, slot.width) << slot.fileName;
        EXPECT_EQ(decoded.height, slot.height) << slot.fileName;
    }
}

TEST(DefaultSkin, LabelsKeepTheirTransparency) {
    const DecodedImage label = decodeImage(skin::makeDefaultSkin()[16].file);
    int clear = 0, solid = 0;
    for (size_t i = 3; i < label.rgba.size(); i += 4) {
        clear += label.rgba[i] == 0;
        solid += label.rgba[i] == 255;
    }
    EXPECT_GT(clear, 200);
    EXPECT_GT(solid, 20);
}

TEST(DefaultSkin, ButtonLooksDifferAndCarryLabels) {
    const std::vector<skin::SkinImage> images = skin::makeDefaultSkin();
    for (int first : {7, 10, 13}) {
        const DecodedImage normal = decodeImage(images[first].file);
        const DecodedImage hovered = decodeImage(images[first + 1].file);
        const DecodedImage pressed = decodeImage(images[first + 2].file);
        EXPECT_NE(normal.rgba, hovered.rgba) << first;
        EXPECT_NE(normal.rgba, pressed.rgba) << first;
        EXPECT_NE(hovered.rgba, pressed.rgba) << first;
        EXPECT_GT(meanLuminance(hovered, 10, 8, normal.width - 10, 30),
                  meanLuminance(normal, 10, 8, normal.width - 10, 30));
        // White label text in the middle row band.
        float brightest = 0;
        for (int x = 0; x < normal.width; ++x) brightest = std::max(brightest, luminance(normal, x, 18));
        EXPECT_GT(brightest, 0.9f) << first;
    }
    EXPECT_NE(decodeImage(images[5].file).rgba, decodeImage(images[6].file).rgba);
}

TEST(DefaultSkin, TheWindowsWhiteTextStaysReadable) {
    const std::vector<skin::SkinImage> images = skin::makeDefaultSkin();
    // Tips text, white, at window rows 200..300: image rows 133..200.
    const DecodedImage background = decodeImage(images[0].file);
    EXPECT_LT(meanLuminance(background, 0, 133, 600, 200), 0.25f);
    // Device numbers, white, over the field frames.
    const DecodedImage field = decodeImage(images[2].file);
    EXPECT_LT(meanLuminance(field, 4, 4, 70, 22), 0.15f);
}

}  // namespace
}  // namespace iap
