#include "raster/bmp.h"

#include <stdexcept>

#include "bytes/byte_order.h"

namespace iap::raster {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr uint32_t kV4HeaderSize = 108;   // BITMAPV4HEADER
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kLcsWindowsColorSpace = 0x57696E20;  // 'Win '
constexpr int32_t kPixelsPerMetre = 2835;               // 72 dpi

}  // namespace

std::vector<uint8_t> encodeBmp(int width, int height, const std::vector<uint8_t>& rgba,
                               bool withAlpha) {
    if (width <= 0 || height <= 0 ||
        rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        throw std::invalid_argument("bitmap size does not match its pixels");
    }
    const uint32_t bytesPerPixel = withAlpha ? 4 : 3;
    const uint32_t rowSize = (static_cast<uint32_t>(width) * bytesPerPixel + 3) & ~3u;
    const uint32_t infoSize = withAlpha ? kV4HeaderSize : kInfoHeaderSize;
    const uint32_t pixelOffset = kFileHeaderSize + infoSize;
    const uint32_t imageSize = rowSize * static_cast<uint32_t>(height);

    std::vector<uint8_t> out;
    out.reserve(pixelOffset + imageSize);
    out.push_back('B');
    out.push_back('M');
    appendU32(out, pixelOffset + imageSize);
    appendU32(out, 0);  // reserved
    appendU32(out, pixelOffset);

    appendU32(out, infoSize);
    appendU32(out, static_cast<uint32_t>(width));
    appendU32(out, static_cast<uint32_t>(height));  // positive: bottom-up rows
    appendU16(out, 1);                              // planes
    appendU16(out, static_cast<uint16_t>(bytesPerPixel * 8));
    appendU32(out, withAlpha ? kBiBitfields : kBiRgb);
    appendU32(out, imageSize);
    appendU32(out, static_cast<uint32_t>(kPixelsPerMetre));
    appendU32(out, static_cast<uint32_t>(kPixelsPerMetre));
    appendU32(out, 0);  // colours used
    appendU32(out, 0);  // important colours
    if (withAlpha) {
        appendU32(out, 0x00FF0000);  // red mask
        appendU32(out, 0x0000FF00);  // green mask
        appendU32(out, 0x000000FF);  // blue mask
        appendU32(out, 0xFF000000);  // alpha mask
        appendU32(out, kLcsWindowsColorSpace);
        out.insert(out.end(), 36 + 12, 0);  // endpoints, gamma
    }
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t* row = rgba.data() + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = row + x * 4;
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
            if (withAlpha) out.push_back(p[3]);
        }
        for (uint32_t pad = static_cast<uint32_t>(width) * bytesPerPixel; pad < rowSize; ++pad) {
            out.push_back(0);
        }
    }
    return out;
}

}  // namespace iap::raster
