// Device status codes (response byte 1) and their user-facing messages.
// 0 is success; 0xE0 to 0xE9 are faults of a command, 0xF0 to 0xFB faults
// the bootloader found in the image header (each names the field).
#pragma once

#include <cstdint>
#include <string>

namespace iap {

enum StatusCode : uint8_t {
    STATUS_OK = 0x00,
    STATUS_INVALID_CMD = 0xE0,
    STATUS_LENGTH_ERROR = 0xE1,
    STATUS_CRC_ERROR = 0xE2,
    STATUS_BLOCK_NUMBER_ERROR = 0xE3,
    STATUS_BLOCK_SIZE_ERROR = 0xE4,
    STATUS_WRITE_OFFSET_ERROR = 0xE5,
    STATUS_READ_OFFSET_ERROR = 0xE6,
    STATUS_PARAMETER_ERROR = 0xE7,
    STATUS_FLASH_FAILED = 0xE8,
    STATUS_CONDITION_NOT_SATISFIED = 0xE9,
    STATUS_HEADER_UPGRADE_FLAG = 0xF0,
    STATUS_HEADER_CHIP_ID = 0xF1,
    STATUS_HEADER_ITEM_INFO = 0xF2,
    STATUS_HEADER_HW_VERSION = 0xF3,
    STATUS_HEADER_SW_VERSION = 0xF4,
    STATUS_HEADER_CHECK_INFO = 0xF5,
    STATUS_HEADER_BLOCK_INFO = 0xF6,
    STATUS_HEADER_UPGRADE_TYPE = 0xF7,
    STATUS_HEADER_ENCRYPT = 0xF8,
    STATUS_HEADER_CRC = 0xF9,
    STATUS_HEADER_LOAD_ADDRESS = 0xFA,
    STATUS_HEADER_BIN_SIZE = 0xFB,
};

// "success!" for 0, the fixed message of each known code, "unknown error"
// for every other value (including values above 0xFF).
std::string statusMessage(unsigned code);

}  // namespace iap
