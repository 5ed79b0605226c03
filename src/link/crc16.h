// CRC-16/MODBUS: initial value 0xFFFF, reflected polynomial 0xA001, no final
// XOR. The IAP protocol and the image header store it high byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iap {

uint16_t crc16Modbus(const uint8_t* data, size_t length);

// Writes crc high byte then low byte at out[0], out[1].
inline void storeCrcHighFirst(uint8_t* out, uint16_t crc) {
    out[0] = static_cast<uint8_t>(crc >> 8);
    out[1] = static_cast<uint8_t>(crc & 0xFF);
}

// Reads a CRC stored high byte first.
inline uint16_t loadCrcHighFirst(const uint8_t* in) {
    return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

}  // namespace iap
