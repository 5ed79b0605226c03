// The firmware image: a 128-byte image header followed by the payload that
// is written to the device in blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace iap {

inline constexpr size_t kImageHeaderSize = 128;
inline constexpr size_t kMaxBlockSize = 8192;
inline constexpr uint32_t kMaxBlockCount = 65535;

// Positions of the image header fields.
namespace image_header {
constexpr size_t kSignature = 0;       // 8 ASCII characters
constexpr size_t kSignatureSize = 8;
constexpr size_t kChip = 8;            // length byte + text, rest 0xFF
constexpr size_t kItem = 24;           // length byte + text, rest 0xFF
constexpr size_t kCountedTextSize = 16;
constexpr size_t kHwVersion = 48;      // "Vd.d.d"
constexpr size_t kSwVersion = 54;      // "Vd.d.d"
constexpr size_t kVersionSize = 6;
constexpr size_t kDeviceFlags = 60;    // 2 bytes only the device interprets
constexpr size_t kPayloadCrc = 62;     // CRC-16/MODBUS, high byte first
constexpr size_t kBlockSize = 66;      // u16 little-endian
constexpr size_t kBlockCount = 68;     // u32 little-endian
constexpr size_t kDeviceWord = 106;    // 4 bytes only the device interprets
constexpr size_t kPayloadLength = 110; // u32 little-endian
constexpr size_t kHeaderCrc = 126;     // CRC over bytes 0..125, high byte first
}  // namespace image_header

// What the generator writes into a new image header.
struct ImageHeaderFields {
    std::string signature = "USBIAPFW";
    std::string chip = "GENERIC";
    std::string item = "DEMO";
    std::string hwVersion = "V1.0.0";
    std::string swVersion = "V1.0.0";
    uint16_t blockSize = 256;
    uint16_t deviceFlags = 0xFFFF;
    uint32_t deviceWord = 0xFFFFFFFF;
};

// The block size the tool reads from an image: header bytes 66 (low) and 67
// (high); 0 when the image is too short to hold them.
uint16_t imageBlockSize(std::span<const uint8_t> image);

// The payload is cut into blocks of blockSize bytes, the last one shorter:
// (payload - 1) / blockSize + 1 blocks, the last of (payload - 1) % blockSize
// + 1 bytes. Both are 0 when the payload or the block size is 0.
uint64_t blockCount(uint64_t payloadLength, uint32_t blockSize);
uint32_t lastBlockSize(uint64_t payloadLength, uint32_t blockSize);

// Builds header + payload. Throws std::invalid_argument naming the field
// when a field cannot be written (wrong length, non-ASCII text, bad version
// text, block size or payload outside what the engine takes).
std::vector<uint8_t> buildFirmwareImage(const ImageHeaderFields& fields,
                                        std::span<const uint8_t> payload);

// The header fields of an image as stored, with the CRCs recomputed.
struct ImageHeaderView {
    std::string signature, chip, item, hwVersion, swVersion;
    uint16_t deviceFlags = 0;
    uint32_t deviceWord = 0;
    uint16_t blockSize = 0;
    uint32_t blockCount = 0;       // as stored
    uint32_t payloadLength = 0;    // as stored
    uint16_t payloadCrc = 0;       // as stored
    uint16_t payloadCrcComputed = 0;
    uint16_t headerCrc = 0;        // as stored
    uint16_t headerCrcComputed = 0;
    uint64_t actualPayloadLength = 0;  // image size - 128
};

// Reads the header of an image of at least 128 bytes (throws
// std::invalid_argument when shorter).
ImageHeaderView readImageHeader(std::span<const uint8_t> image);

// The one rule for the images the upgrade engine can run, shared by the
// loader, the generator and the engine. Why it cannot take this image (empty
// when it can): 128 bytes or fewer, block size 0 or above 8192, more than
// 65535 blocks.
std::string firmwareEngineProblem(std::span<const uint8_t> image);
// The same rule for an image of imageSize bytes cut into blocks of blockSize.
std::string firmwareEngineProblem(size_t imageSize, uint16_t blockSize);

}  // namespace iap
