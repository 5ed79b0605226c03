// IAP business packs: commands (tool to device) and the response layout.
//
// Command:  code(1) | data length N (2, LE) | data (N) | CRC hi | CRC lo
// Response: 0xB0 | status | reserved | data length A (2, LE) | data (A) | CRC hi | CRC lo
// The CRC is CRC-16/MODBUS over everything before it, stored high byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes/firmware_image.h"  // image header size, block size and count

namespace iap {

inline constexpr uint8_t CMD_HEADER = 0xA0;
inline constexpr uint8_t CMD_DATA = 0xA1;
inline constexpr uint8_t CMD_FINISH = 0xA4;
inline constexpr uint8_t CMD_TO_BOOT = 0xC0;
inline constexpr uint8_t CMD_RESPONSE = 0xB0;

// Largest response data: a block of 8192 bytes plus block number and offset.
inline constexpr size_t kMaxResponseData = 8198;
// Block number field of the last data block.
inline constexpr uint16_t kLastBlockNumber = 0xFFFF;

// Builders write the whole command with its CRC into out and return its
// length. out must hold the command (at most 8208 bytes for CMD_DATA).
size_t buildHeaderCommand(uint8_t* out, const std::vector<uint8_t>& image);  // 133 bytes
// Block blockIndex of blockLength bytes from image offset 128 + index * size.
size_t buildDataCommand(uint8_t* out, const std::vector<uint8_t>& image, uint32_t blockIndex,
                        uint16_t blockSize, uint32_t blockLength, bool lastBlock);
size_t buildFinishCommand(uint8_t* out, uint16_t switchDelay);  // 7 bytes
size_t buildToBootCommand(uint8_t* out, uint16_t switchDelay);  // 7 bytes

}  // namespace iap
