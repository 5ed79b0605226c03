#include "link/packets.h"

#include <cstring>

#include "link/crc16.h"

namespace iap {
namespace {

void putLe16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value & 0xFF);
    out[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void putLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

// Appends the CRC of out[0..length) high byte first; returns the new length.
size_t sealWithCrc(uint8_t* out, size_t length) {
    storeCrcHighFirst(out + length, crc16Modbus(out, length));
    return length + 2;
}

size_t buildDelayCommand(uint8_t* out, uint8_t code, uint16_t switchDelay) {
    out[0] = code;
    putLe16(out + 1, 2);
    putLe16(out + 3, switchDelay);
    return sealWithCrc(out, 5);
}

}  // namespace

uint16_t imageBlockSize(const std::vector<uint8_t>& image) {
    if (image.size() < 68) {
        return 0;
    }
    return static_cast<uint16_t>(image[66] | (image[67] << 8));
}

uint32_t blockCount(uint32_t payloadSize, uint16_t blockSize) {
    return (payloadSize - 1) / blockSize + 1;
}

uint16_t lastBlockSize(uint32_t payloadSize, uint16_t blockSize) {
    return static_cast<uint16_t>((payloadSize - 1) % blockSize + 1);
}

size_t buildHeaderCommand(uint8_t* out, const std::vector<uint8_t>& image) {
    out[0] = CMD_HEADER;
    putLe16(out + 1, kImageHeaderSize);
    std::memset(out + 3, 0, kImageHeaderSize);
    std::memcpy(out + 3, image.data(), image.size() < kImageHeaderSize ? image.size() : kImageHeaderSize);
    return sealWithCrc(out, 3 + kImageHeaderSize);
}

size_t buildDataCommand(uint8_t* out, const std::vector<uint8_t>& image, uint32_t blockIndex,
                        uint16_t blockSize, uint32_t blockLength, bool lastBlock) {
    const size_t offset = static_cast<size_t>(blockIndex) * blockSize;
    out[0] = CMD_DATA;
    putLe16(out + 1, blockLength + 6);
    putLe16(out + 3, lastBlock ? kLastBlockNumber : blockIndex);
    putLe32(out + 5, static_cast<uint32_t>(offset));
    // Never read past the image: bytes beyond its end (an image that does not
    // hold the block) are sent as zero.
    const size_t start = kImageHeaderSize + offset;
    size_t available = image.size() > start ? image.size() - start : 0;
    if (available > blockLength) {
        available = blockLength;
    }
    std::memset(out + 9, 0, blockLength);
    if (available > 0) {
        std::memcpy(out + 9, image.data() + start, available);
    }
    return sealWithCrc(out, 9 + blockLength);
}

size_t buildFinishCommand(uint8_t* out, uint16_t switchDelay) {
    return buildDelayCommand(out, CMD_FINISH, switchDelay);
}

size_t buildToBootCommand(uint8_t* out, uint16_t switchDelay) {
    return buildDelayCommand(out, CMD_TO_BOOT, switchDelay);
}

}  // namespace iap
