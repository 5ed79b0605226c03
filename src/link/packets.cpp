#include "link/packets.h"

#include <cstring>

#include "bytes/byte_order.h"
#include "bytes/checksums.h"

namespace iap {
namespace {

// Appends the CRC of out[0..length) high byte first; returns the new length.
size_t sealWithCrc(uint8_t* out, size_t length) {
    storeCrcHighFirst(out + length, crc16Modbus(out, length));
    return length + 2;
}

size_t buildDelayCommand(uint8_t* out, uint8_t code, uint16_t switchDelay) {
    out[0] = code;
    storeU16(out + 1, 2);
    storeU16(out + 3, switchDelay);
    return sealWithCrc(out, 5);
}

}  // namespace

size_t buildHeaderCommand(uint8_t* out, const std::vector<uint8_t>& image) {
    out[0] = CMD_HEADER;
    storeU16(out + 1, kImageHeaderSize);
    std::memset(out + 3, 0, kImageHeaderSize);
    std::memcpy(out + 3, image.data(), image.size() < kImageHeaderSize ? image.size() : kImageHeaderSize);
    return sealWithCrc(out, 3 + kImageHeaderSize);
}

size_t buildDataCommand(uint8_t* out, const std::vector<uint8_t>& image, uint32_t blockIndex,
                        uint16_t blockSize, uint32_t blockLength, bool lastBlock) {
    const size_t offset = static_cast<size_t>(blockIndex) * blockSize;
    out[0] = CMD_DATA;
    storeU16(out + 1, static_cast<uint16_t>(blockLength + 6));
    storeU16(out + 3, lastBlock ? kLastBlockNumber : static_cast<uint16_t>(blockIndex));
    storeU32(out + 5, static_cast<uint32_t>(offset));
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
