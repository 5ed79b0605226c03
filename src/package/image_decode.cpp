#include "package/image_decode.h"

#include <climits>
#include <stdexcept>

#include <stb_image.h>

#include "package/decode_budget.h"

namespace iap {
namespace {

[[noreturn]] void fail() { throw std::runtime_error("failed to load image data!"); }

}  // namespace

std::optional<ImageSize> imageFileSize(std::span<const uint8_t> file) {
    if (file.empty() || file.size() > static_cast<size_t>(INT_MAX)) return std::nullopt;
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels)) {
        return std::nullopt;
    }
    if (width <= 0 || height <= 0) return std::nullopt;
    return ImageSize{width, height};
}

size_t decodeAllowance(ImageSize size, size_t fileBytes) {
    const uint64_t pixels = static_cast<uint64_t>(size.width) * static_cast<uint64_t>(size.height);
    return static_cast<size_t>(24 * pixels + 2 * static_cast<uint64_t>(fileBytes) + (1u << 20));
}

DecodedImage decodeImage(std::span<const uint8_t> file) {
    const std::optional<ImageSize> size = imageFileSize(file);
    if (!size || static_cast<uint64_t>(size->width) * static_cast<uint64_t>(size->height) > kMaxImagePixels) {
        fail();
    }
    DecodeBudget budget(decodeAllowance(*size, file.size()));
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 4);
    if (!pixels) fail();
    DecodedImage image;
    if (width == size->width && height == size->height) {
        image.width = width;
        image.height = height;
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
        image.rgba.assign(pixels, pixels + bytes);
    }
    stbi_image_free(pixels);
    if (image.rgba.empty()) fail();  // decoded to another size than the file declared
    return image;
}

std::string imagesCostProblem(const std::vector<PackageImage>& images) {
    uint64_t total = 0;
    for (const PackageImage& image : images) {
        const std::optional<ImageSize> size = imageFileSize(image.file);
        if (!size) continue;
        const uint64_t pixels = static_cast<uint64_t>(size->width) * static_cast<uint64_t>(size->height);
        if (pixels > kMaxImagePixels) {
            return "image " + std::to_string(image.id) + " is " + std::to_string(size->width) + "x" +
                   std::to_string(size->height) + " pixels; at most 2048x2048 (4194304 pixels) are decoded";
        }
        total += pixels;
        if (total > kMaxPackagePixels) {
            return "the images together are more than " + std::to_string(kMaxPackagePixels) +
                   " pixels (at image " + std::to_string(image.id) + "); that is more than any skin needs";
        }
    }
    return {};
}

}  // namespace iap
