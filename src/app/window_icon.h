// The window icon, drawn in code at the sizes the desktop asks for.
#pragma once

#include <cstdint>
#include <vector>

namespace iap {

struct IconImage {
    int size = 0;               // width and height in pixels
    std::vector<uint8_t> rgba;  // size * size * 4 bytes, top row first
};

// Ten square images of 16, 24, 32, 48, 64, 72, 80, 96, 128 and 256 pixels: a
// green rounded tile with a white upward arrow over a bar (firmware going up).
std::vector<IconImage> makeWindowIcons();

}  // namespace iap
