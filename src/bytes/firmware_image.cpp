#include "bytes/firmware_image.h"

#include <stdexcept>

#include "bytes/byte_order.h"
#include "bytes/checksums.h"

namespace iap {

namespace {

bool isPrintableAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

bool isVersionText(const std::string& text) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return text.size() == 6 && text[0] == 'V' && digit(text[1]) && text[2] == '.' &&
           digit(text[3]) && text[4] == '.' && digit(text[5]);
}

void putCountedText(uint8_t* out, const std::string& text, const char* what) {
    if (text.size() > image_header::kCountedTextSize - 1 || !isPrintableAscii(text)) {
        throw std::invalid_argument(std::string(what) + " \"" + text +
                                    "\" must be at most 15 printable ASCII characters");
    }
    out[0] = static_cast<uint8_t>(text.size());
    for (size_t i = 0; i < text.size(); ++i) out[1 + i] = static_cast<uint8_t>(text[i]);
}

std::string getCountedText(const uint8_t* in) {
    size_t length = in[0];
    if (length > image_header::kCountedTextSize - 1) length = image_header::kCountedTextSize - 1;
    return std::string(reinterpret_cast<const char*>(in + 1), length);
}

std::string getText(const uint8_t* in, size_t size) {
    return std::string(reinterpret_cast<const char*>(in), size);
}

}  // namespace

uint16_t imageBlockSize(std::span<const uint8_t> image) {
    if (image.size() < image_header::kBlockSize + 2) return 0;
    return loadU16(image.data() + image_header::kBlockSize);
}

uint64_t blockCount(uint64_t payloadLength, uint32_t blockSize) {
    if (blockSize == 0 || payloadLength == 0) return 0;
    return (payloadLength - 1) / blockSize + 1;
}

uint32_t lastBlockSize(uint64_t payloadLength, uint32_t blockSize) {
    if (blockSize == 0 || payloadLength == 0) return 0;
    return static_cast<uint32_t>((payloadLength - 1) % blockSize + 1);
}

std::vector<uint8_t> buildFirmwareImage(const ImageHeaderFields& fields,
                                        std::span<const uint8_t> payload) {
    namespace h = image_header;
    if (fields.signature.size() != h::kSignatureSize || !isPrintableAscii(fields.signature)) {
        throw std::invalid_argument("signature \"" + fields.signature +
                                    "\" must be exactly 8 printable ASCII characters");
    }
    if (!isVersionText(fields.hwVersion)) {
        throw std::invalid_argument("hardware version \"" + fields.hwVersion +
                                    "\" must look like V1.0.0");
    }
    if (!isVersionText(fields.swVersion)) {
        throw std::invalid_argument("software version \"" + fields.swVersion +
                                    "\" must look like V1.0.0");
    }
    if (fields.blockSize == 0 || fields.blockSize > kMaxBlockSize) {
        throw std::invalid_argument("block size " + std::to_string(fields.blockSize) +
                                    " must be between 1 and 8192");
    }
    if (payload.empty()) throw std::invalid_argument("payload is empty");
    const uint64_t blocks = blockCount(payload.size(), fields.blockSize);
    if (blocks > kMaxBlockCount || payload.size() > 0xFFFFFFFFu - kImageHeaderSize) {
        throw std::invalid_argument("payload of " + std::to_string(payload.size()) +
                                    " bytes needs " + std::to_string(blocks) +
                                    " blocks; at most 65535 are possible");
    }

    std::vector<uint8_t> image(kImageHeaderSize, 0xFF);
    uint8_t* hdr = image.data();
    for (size_t i = 0; i < h::kSignatureSize; ++i) {
        hdr[h::kSignature + i] = static_cast<uint8_t>(fields.signature[i]);
    }
    putCountedText(hdr + h::kChip, fields.chip, "chip identification");
    putCountedText(hdr + h::kItem, fields.item, "item information");
    for (size_t i = 0; i < h::kVersionSize; ++i) {
        hdr[h::kHwVersion + i] = static_cast<uint8_t>(fields.hwVersion[i]);
        hdr[h::kSwVersion + i] = static_cast<uint8_t>(fields.swVersion[i]);
    }
    storeU16(hdr + h::kDeviceFlags, fields.deviceFlags);
    storeCrcHighFirst(hdr + h::kPayloadCrc, crc16Modbus(payload.data(), payload.size()));
    storeU16(hdr + h::kBlockSize, fields.blockSize);
    storeU32(hdr + h::kBlockCount, static_cast<uint32_t>(blocks));
    storeU32(hdr + h::kDeviceWord, fields.deviceWord);
    storeU32(hdr + h::kPayloadLength, static_cast<uint32_t>(payload.size()));
    storeCrcHighFirst(hdr + h::kHeaderCrc, crc16Modbus(hdr, h::kHeaderCrc));

    image.insert(image.end(), payload.begin(), payload.end());
    return image;
}

ImageHeaderView readImageHeader(std::span<const uint8_t> image) {
    namespace h = image_header;
    if (image.size() < kImageHeaderSize) {
        throw std::invalid_argument("firmware image of " + std::to_string(image.size()) +
                                    " bytes is shorter than its 128-byte header");
    }
    const uint8_t* hdr = image.data();
    ImageHeaderView v;
    v.signature = getText(hdr + h::kSignature, h::kSignatureSize);
    v.chip = getCountedText(hdr + h::kChip);
    v.item = getCountedText(hdr + h::kItem);
    v.hwVersion = getText(hdr + h::kHwVersion, h::kVersionSize);
    v.swVersion = getText(hdr + h::kSwVersion, h::kVersionSize);
    v.deviceFlags = loadU16(hdr + h::kDeviceFlags);
    v.deviceWord = loadU32(hdr + h::kDeviceWord);
    v.blockSize = loadU16(hdr + h::kBlockSize);
    v.blockCount = loadU32(hdr + h::kBlockCount);
    v.payloadLength = loadU32(hdr + h::kPayloadLength);
    v.payloadCrc = loadCrcHighFirst(hdr + h::kPayloadCrc);
    v.headerCrc = loadCrcHighFirst(hdr + h::kHeaderCrc);
    v.actualPayloadLength = image.size() - kImageHeaderSize;
    v.payloadCrcComputed = crc16Modbus(hdr + kImageHeaderSize, image.size() - kImageHeaderSize);
    v.headerCrcComputed = crc16Modbus(hdr, h::kHeaderCrc);
    return v;
}

std::string firmwareEngineProblem(size_t imageSize, uint16_t blockSize) {
    if (imageSize <= kImageHeaderSize) {
        return "Firmware image of " + std::to_string(imageSize) +
               " bytes holds no payload after its 128-byte header.";
    }
    if (blockSize == 0 || blockSize > kMaxBlockSize) {
        return "Firmware block size " + std::to_string(blockSize) +
               " is outside 1 to 8192.";
    }
    const uint64_t blocks = blockCount(imageSize - kImageHeaderSize, blockSize);
    if (blocks > kMaxBlockCount) {
        return "Firmware needs " + std::to_string(blocks) + " blocks; at most 65535 are possible.";
    }
    return {};
}

std::string firmwareEngineProblem(std::span<const uint8_t> image) {
    return firmwareEngineProblem(image.size(), imageBlockSize(image));
}

}  // namespace iap
