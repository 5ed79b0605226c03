#include "raster/ico.h"

#include <stdexcept>

#include "bytes/byte_order.h"

namespace iap::raster {

namespace {

constexpr uint32_t kDirSize = 6;
constexpr uint32_t kEntrySize = 16;
constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER

uint32_t maskRowSize(int size) { return ((static_cast<uint32_t>(size) + 31) / 32) * 4; }

uint32_t imageBytes(int size) {
    const auto s = static_cast<uint32_t>(size);
    return kInfoHeaderSize + s * s * 4 + maskRowSize(size) * s;
}

}  // namespace

std::vector<uint8_t> encodeIco(const std::vector<IcoImage>& images) {
    if (images.empty() || images.size() > 0xFFFF) throw std::invalid_argument("an icon holds 1 to 65535 images");
    for (const IcoImage& image : images) {
        if (image.size < 1 || image.size > 256 || !image.rgba ||
            image.rgba->size() != static_cast<size_t>(image.size) * static_cast<size_t>(image.size) * 4) {
            throw std::invalid_argument("icon image size does not match its pixels");
        }
    }
    std::vector<uint8_t> out;
    appendU16(out, 0);  // reserved
    appendU16(out, 1);  // icon
    appendU16(out, static_cast<uint16_t>(images.size()));
    uint32_t offset = kDirSize + kEntrySize * static_cast<uint32_t>(images.size());
    for (const IcoImage& image : images) {
        const auto side = static_cast<uint8_t>(image.size == 256 ? 0 : image.size);  // 0 stands for 256
        out.push_back(side);
        out.push_back(side);
        out.push_back(0);   // no palette
        out.push_back(0);   // reserved
        appendU16(out, 1);  // planes
        appendU16(out, 32);  // bits per pixel
        appendU32(out, imageBytes(image.size));
        appendU32(out, offset);
        offset += imageBytes(image.size);
    }
    for (const IcoImage& image : images) {
        const auto s = static_cast<uint32_t>(image.size);
        appendU32(out, kInfoHeaderSize);
        appendU32(out, s);
        appendU32(out, 2 * s);  // the colour rows and the mask rows
        appendU16(out, 1);
        appendU16(out, 32);
        appendU32(out, 0);  // BI_RGB
        appendU32(out, s * s * 4 + maskRowSize(image.size) * s);
        appendU32(out, 0);
        appendU32(out, 0);
        appendU32(out, 0);
        appendU32(out, 0);
        const std::vector<uint8_t>& rgba = *image.rgba;
        for (int y = image.size - 1; y >= 0; --y) {  // bottom-up, BGRA
            for (int x = 0; x < image.size; ++x) {
                const size_t i = (static_cast<size_t>(y) * s + static_cast<size_t>(x)) * 4;
                out.push_back(rgba[i + 2]);
                out.push_back(rgba[i + 1]);
                out.push_back(rgba[i]);
                out.push_back(rgba[i + 3]);
            }
        }
        // AND mask all clear: the alpha channel decides.
        out.insert(out.end(), static_cast<size_t>(maskRowSize(image.size)) * s, 0);
    }
    return out;
}

}  // namespace iap::raster
