// Windows icon files (.ico): one 32-bit image per size, each an uncompressed
// device-independent bitmap with its alpha channel and an all-clear AND mask.
#pragma once

#include <cstdint>
#include <vector>

namespace iap::raster {

struct IcoImage {
    int size = 0;                      // width and height, 1 to 256
    const std::vector<uint8_t>* rgba;  // size * size * 4 bytes, top row first
};

std::vector<uint8_t> encodeIco(const std::vector<IcoImage>& images);

}  // namespace iap::raster
