// UUIDs as RFC 9562 lays them out: version 7 (time-ordered, for IDs made
// now) and version 8 (the layout around bytes of our own, such as a hash).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace iap {

using Uuid = std::array<uint8_t, 16>;

// Fills out with bytes from the system's cryptographic source (getrandom on
// Linux, RtlGenRandom through rand_s on Windows); throws std::runtime_error
// when the system gives none.
void systemRandom(std::span<uint8_t> out);

// Version 7: 48 bits of Unix time in milliseconds, then 74 random bits.
Uuid uuidV7(std::chrono::system_clock::time_point time = std::chrono::system_clock::now());

// Version 8 over the first 16 bytes of bytes (a hash): the version and
// variant bits set, the rest kept.
Uuid uuidV8(std::span<const uint8_t, 16> bytes);

// "0190e3a4-7b2c-7def-8123-456789abcdef" (lower case).
std::string uuidText(const Uuid& uuid);

}  // namespace iap
