// What the window shows of the tool package: the colours, the images as
// textures and the fixed layout. Only the window loads it.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "package/texture.h"

namespace iap {

struct Colour {
    float r = 0, g = 0, b = 0, a = 0;
};

// Field order: width, height, x, y (pixels, relative to the window's top-left).
struct LayoutRect {
    float w = 0, h = 0, x = 0, y = 0;
};

using TextureMap = std::unordered_map<int32_t, std::shared_ptr<ITexture>>;
using LayoutMap = std::unordered_map<int32_t, LayoutRect>;

struct Skin {
    std::vector<Colour> colours;
    TextureMap textures;
    LayoutMap layout;
};

}  // namespace iap
