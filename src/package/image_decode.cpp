#include <climits>
#include <stdexcept>

#include <stb_image.h>

#include "package/texture.h"

namespace iap {

namespace {

// Larger images are refused before decoding: a damaged or hostile header must
// not make the tool allocate gigabytes. 2048 x 2048 is far above any skin of
// the 600 x 400 window.
constexpr long long kMaxPixels = 2048LL * 2048LL;

[[noreturn]] void fail() { throw std::runtime_error("failed to load image data!"); }

}  // namespace

DecodedImage decodeImage(const std::vector<uint8_t>& fileBytes) {
    if (fileBytes.empty() || fileBytes.size() > static_cast<size_t>(INT_MAX)) fail();
    const int length = static_cast<int>(fileBytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(fileBytes.data(), length, &width, &height, &channels)) fail();
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels) fail();

    stbi_uc* pixels = stbi_load_from_memory(fileBytes.data(), length, &width, &height, &channels, 4);
    if (!pixels) fail();
    DecodedImage image;
    image.width = width;
    image.height = height;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    image.rgba.assign(pixels, pixels + bytes);
    stbi_image_free(pixels);
    return image;
}

}  // namespace iap
