#include "package/texture_image.h"

#include <algorithm>
#include <cstring>

namespace iap {
namespace {

int powerOfTwoAtLeast(int n) {
    int p = 1;
    while (p < n) p *= 2;
    return p;
}

DecodedImage halved(const DecodedImage& img) {
    const int width = (img.width + 1) / 2;
    const int height = (img.height + 1) / 2;
    DecodedImage out{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    auto at = [&img](int x, int y, int c) {
        x = std::min(x, img.width - 1);
        y = std::min(y, img.height - 1);
        return static_cast<unsigned>(img.rgba[(static_cast<size_t>(y) * img.width + x) * 4 + c]);
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                const unsigned sum = at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) +
                                     at(2 * x + 1, 2 * y + 1, c);
                out.rgba[(static_cast<size_t>(y) * width + x) * 4 + c] = static_cast<uint8_t>((sum + 2) / 4);
            }
        }
    }
    return out;
}

DecodedImage padded(const DecodedImage& img, int width, int height) {
    DecodedImage out{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    const size_t rowBytes = static_cast<size_t>(img.width) * 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = img.rgba.data() + static_cast<size_t>(std::min(y, img.height - 1)) * rowBytes;
        uint8_t* to = out.rgba.data() + static_cast<size_t>(y) * width * 4;
        std::memcpy(to, from, rowBytes);
        for (int x = img.width; x < width; ++x) std::memcpy(to + static_cast<size_t>(x) * 4, from + rowBytes - 4, 4);
    }
    return out;
}

}  // namespace

TextureImage textureImage(DecodedImage&& image, bool anyTextureSize, int maxSide) {
    TextureImage out{std::move(image)};
    DecodedImage& img = out.pixels;
    if (img.width <= 0 || img.height <= 0) return out;
    while (maxSide > 0 && (img.width > maxSide || img.height > maxSide)) img = halved(img);
    if (!anyTextureSize) {
        const int width = img.width;
        const int height = img.height;
        const int w = powerOfTwoAtLeast(width);
        const int h = powerOfTwoAtLeast(height);
        if (w != width || h != height) img = padded(img, w, h);
        out.uvRight = static_cast<float>(width) / static_cast<float>(w);
        out.uvBottom = static_cast<float>(height) / static_cast<float>(h);
    }
    return out;
}

}  // namespace iap
