// PNG files, 8-bit RGBA, written with a small deflate of our own (fixed
// Huffman codes, runs of a repeated byte as matches at distance 1): plain
// images compress little, runs of one value very well.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace iap::raster {

// rgba: width * height * 4 bytes, rows top to bottom.
std::vector<uint8_t> encodePng(int width, int height, std::span<const uint8_t> rgba);

// A PNG whose image data is exactly `rows` (each row a filter byte and its
// pixels, as the format stores them), however many bytes that is: the file
// claims width x height, and the data may hold more or less than that needs.
std::vector<uint8_t> encodePngRows(int width, int height, std::span<const uint8_t> rows);

}  // namespace iap::raster
