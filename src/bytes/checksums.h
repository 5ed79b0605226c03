// The two checksums of the IAP protocol and the image header.
//
// CRC-16/MODBUS: initial value 0xFFFF, reflected polynomial 0xA001, no final
// XOR. The protocol and the image header store it high byte first.
// The transfer-pack checksum: XOR of the bytes, starting from 0.
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

inline uint8_t xorChecksum(const uint8_t* data, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum ^= data[i];
    return sum;
}

}  // namespace iap
