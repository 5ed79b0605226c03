// The 19 skin images of a package and the built-in default skin.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace iap::skin {

// One image slot: id, file name in a skin folder, pixel size, whether the
// generated BMP carries alpha (the three labels).
struct SkinSlot {
    int32_t id;
    const char* fileName;
    int width;
    int height;
    bool alpha;
};

const std::array<SkinSlot, 19>& skinSlots();

struct SkinImage {
    int32_t id;
    std::string fileName;
    std::vector<uint8_t> file;  // a complete BMP file
};

// Draws the default skin: a dark blue-grey window with a logo, labelled
// buttons with hovered and pressed looks, check box, field frames and labels.
std::vector<SkinImage> makeDefaultSkin();

}  // namespace iap::skin
