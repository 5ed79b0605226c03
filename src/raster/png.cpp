#include "raster/png.h"

#include <array>
#include <string_view>

namespace iap::raster {
namespace {

uint32_t crc32(std::span<const uint8_t> data, uint32_t crc = 0) {
    crc = ~crc;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t adler32(std::span<const uint8_t> data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    // value's low `count` bits, least significant first.
    void bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            if (used_ == 0) out_.push_back(0);
            out_.back() |= static_cast<uint8_t>(((value >> i) & 1u) << used_);
            used_ = (used_ + 1) % 8;
        }
    }
    // A Huffman code: most significant bit first.
    void code(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits((value >> i) & 1u, 1);
    }

private:
    std::vector<uint8_t>& out_;
    int used_ = 0;
};

void literal(BitWriter& w, uint8_t byte) {
    if (byte < 144) w.code(0x30u + byte, 8);
    else w.code(0x190u + (byte - 144u), 9);
}

// zlib stream (header, one fixed-Huffman deflate block, Adler-32).
std::vector<uint8_t> deflate(std::span<const uint8_t> data) {
    std::vector<uint8_t> out = {0x78, 0x01};
    BitWriter w(out);
    w.bits(1, 1);  // final block
    w.bits(1, 2);  // fixed Huffman codes
    for (size_t i = 0; i < data.size();) {
        literal(w, data[i]);
        size_t run = 0;
        while (i + 1 + run < data.size() && data[i + 1 + run] == data[i]) ++run;
        // The repeats as matches of 258 bytes at distance 1 (length code
        // 285, distance code 0); what is left as literals.
        for (size_t n = run / 258; n > 0; --n) {
            w.code(0xC0u + (285 - 280), 8);
            w.code(0, 5);
        }
        for (size_t n = run % 258; n > 0; --n) literal(w, data[i]);
        i += 1 + run;
    }
    w.code(0, 7);  // end of block
    putBigEndian(out, adler32(data));
    return out;
}

void chunk(std::vector<uint8_t>& png, std::string_view type, std::span<const uint8_t> body) {
    putBigEndian(png, static_cast<uint32_t>(body.size()));
    const size_t start = png.size();
    png.insert(png.end(), type.begin(), type.end());
    png.insert(png.end(), body.begin(), body.end());
    putBigEndian(png, crc32(std::span<const uint8_t>(png).subspan(start)));
}

}  // namespace

std::vector<uint8_t> encodePngRows(int width, int height, std::span<const uint8_t> rows) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBigEndian(header, static_cast<uint32_t>(width));
    putBigEndian(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", deflate(rows));
    chunk(png, "IEND", {});
    return png;
}

std::vector<uint8_t> encodePng(int width, int height, std::span<const uint8_t> rgba) {
    std::vector<uint8_t> rows;
    const size_t stride = static_cast<size_t>(width) * 4;
    rows.reserve((stride + 1) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        rows.push_back(0);  // filter: none
        const auto row = rgba.subspan(static_cast<size_t>(y) * stride, stride);
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return encodePngRows(width, height, rows);
}

}  // namespace iap::raster
