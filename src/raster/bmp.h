// Windows bitmap files: uncompressed, bottom-up rows.
#pragma once

#include <cstdint>
#include <vector>

namespace iap::raster {

// Encodes 8-bit RGBA pixels (rows top to bottom) as a BMP: 24 bits per pixel,
// or 32 bits with an alpha channel (BITMAPV4HEADER with bit-field masks).
std::vector<uint8_t> encodeBmp(int width, int height, const std::vector<uint8_t>& rgba,
                               bool withAlpha);

}  // namespace iap::raster
