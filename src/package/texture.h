// A package image as a texture of the window, held by shared pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace iap {

// An image file decoded to 8-bit RGBA, first row the image's top row.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

}  // namespace iap

namespace iap {

// The texture of one package image. A plain class: the texture id is the GL
// texture name widened (or any id a test texture maker hands out); the
// destructor releases it through the maker's release function.
class ITexture {
public:
    using Release = void (*)(uintptr_t textureId);

    ITexture(uintptr_t textureId, float width, float height, Release release = nullptr)
        : textureId(textureId), width(width), height(height), release_(release) {}
    ~ITexture() {
        if (release_) release_(textureId);
    }
    ITexture(const ITexture&) = delete;
    ITexture& operator=(const ITexture&) = delete;

    uintptr_t textureId;
    float width;
    float height;
    // Texture coordinates of the image's bottom-right corner: below 1 when
    // the image sits in the top-left of a larger, power-of-two texture.
    float uvRight = 1.0f;
    float uvBottom = 1.0f;

private:
    Release release_;
};

// Turns a decoded image into a texture. The window's maker uploads it to GL on
// the thread whose context is current; tests pass one that only records.
using TextureMaker = std::function<std::shared_ptr<ITexture>(DecodedImage&&)>;

}  // namespace iap
