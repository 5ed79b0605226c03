#include "package/gl_texture.h"

#include <algorithm>
#include <cstring>

#include "package/gl_api.h"

namespace iap {
namespace {

int powerOfTwoAtLeast(int n) {
    int p = 1;
    while (p < n) p *= 2;
    return p;
}

// The image in the top-left corner of a width x height image, its last
// column and row repeated to the right and below.
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

std::shared_ptr<ITexture> makeGlTexture(DecodedImage&& image, bool anyTextureSize) {
    DecodedImage img = std::move(image);
    const int width = img.width;
    const int height = img.height;
    if (!anyTextureSize && width > 0 && height > 0) {
        const int w = powerOfTwoAtLeast(width);
        const int h = powerOfTwoAtLeast(height);
        if (w != width || h != height) img = padded(img, w, h);
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, img.width, img.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 img.rgba.data());
    auto texture = std::make_shared<ITexture>(static_cast<uintptr_t>(name), static_cast<float>(width),
                                              static_cast<float>(height), &releaseGlTexture);
    if (img.width > 0 && img.height > 0) {
        texture->uvRight = static_cast<float>(width) / static_cast<float>(img.width);
        texture->uvBottom = static_cast<float>(height) / static_cast<float>(img.height);
    }
    return texture;
}

void releaseGlTexture(uintptr_t textureId) {
    GLuint name = static_cast<GLuint>(textureId);
    glDeleteTextures(1, &name);
}

}  // namespace iap
