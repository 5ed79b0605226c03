// Package images decoded from memory (stb_image) under caps on what
// decoding may cost, so that no image file, however made, can exhaust memory
// or time: a small PNG of compressed zeros, or thousands of entries that all
// name one large image.
//
// The caps:
//  - one image: at most kMaxImagePixels pixels, and decoding it may allocate
//    at most decodeAllowance(...) bytes at a time (stb_image's allocations
//    are counted on the decoding thread); past it the decode fails;
//  - a package: the images of all its entries together (replaced ones
//    included) at most kMaxPackagePixels pixels, checked on the sizes the
//    files declare before any is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/texture.h"

namespace iap {

inline constexpr uint64_t kMaxImagePixels = 2048ull * 2048ull;   // 16 MiB of RGBA
inline constexpr uint64_t kMaxPackagePixels = 8ull * 1024 * 1024;  // 32 MiB, for all images together

struct ImageSize {
    int width = 0;
    int height = 0;
};

// The size the file declares (read from its header, nothing decoded), or
// none when it is not an image the decoder knows.
std::optional<ImageSize> imageFileSize(std::span<const uint8_t> file);

// What decoding one image of that size from a file of that many bytes may
// allocate at once: 24 bytes a pixel (a 16-bit RGBA PNG's inflated rows,
// its output and the 8-bit copy), twice the file (the joined PNG data
// chunks) and 1 MiB.
size_t decodeAllowance(ImageSize size, size_t fileBytes);

// Decodes one complete image file (4 channels) under the one-image caps.
// Throws std::runtime_error("failed to load image data!") when it cannot.
DecodedImage decodeImage(std::span<const uint8_t> file);

// Why decoding these images would cost too much (empty when it would not):
// an image over kMaxImagePixels, or all of them together over
// kMaxPackagePixels. A file that is no image is left to decodeImage.
std::string imagesCostProblem(const std::vector<PackageImage>& images);

}  // namespace iap
