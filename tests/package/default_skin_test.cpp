// The built-in skin: the table's sizes and formats, labels with alpha, and
// three different looks for every button.
#include <gtest/gtest.h>

#include "default_skin.h"
#include "package/byte_order.h"
#include "package/texture.h"

namespace iap {
namespace {

TEST(DefaultSkin, NineteenBitmapsOfTheTableSizes) {
    const std::vector<skin::SkinImage> images = skin::makeDefaultSkin();
    ASSERT_EQ(images.size(), 19u);
    std::vector<DecodedImage> decoded;
    for (size_t i = 0; i < images.size(); ++i) {
        const skin::SkinSlot& slot = skin::skinSlots()[i];
        const std::vector<uint8_t>& file = images[i].file;
        EXPECT_EQ(images[i].id, static_cast<int32_t>(i));
        ASSERT_GT(file.size(), 54u);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 2), "BM");
        EXPECT_EQ(loadU16(file.data() + 28), slot.alpha ? 32 : 24) << slot.fileName;
        EXPECT_GT(static_cast<int32_t>(loadU32(file.data() + 22)), 0) << "bottom-up rows";
        decoded.push_back(decodeImage(file));
        EXPECT_EQ(decoded[i].width, slot.width) << slot.fileName;
        EXPECT_EQ(decoded[i].height, slot.height) << slot.fileName;
    }
    int clear = 0;  // the labels keep their transparency
    for (size_t i = 3; i < decoded[16].rgba.size(); i += 4) clear += decoded[16].rgba[i] == 0;
    EXPECT_GT(clear, 200);
    for (int first : {5, 7, 10, 13}) {
        EXPECT_NE(decoded[first].rgba, decoded[first + 1].rgba) << first;
        if (first != 5) {
            EXPECT_NE(decoded[first + 1].rgba, decoded[first + 2].rgba) << first;
        }
    }
}

}  // namespace
}  // namespace iap
