#include "bytes/checksums.h"

#include <array>

namespace iap {
namespace {

// The CRC of each byte value, bit by bit (reflected polynomial 0xA001):
// a byte at a time then, as every report and response of the protocol and
// every block of a firmware image pass through here.
constexpr std::array<uint16_t, 256> kCrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t crc = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>(crc & 1u ? (crc >> 1) ^ 0xA001u : crc >> 1);
        table[value] = crc;
    }
    return table;
}();

}  // namespace

uint16_t crc16Modbus(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFFu]);
    return crc;
}

}  // namespace iap
