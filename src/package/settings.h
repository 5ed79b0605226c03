// The five timing settings of a tool package.
#pragma once

#include <cstdint>
#include <string>

namespace iap {

// As the package stores them: unsigned 32-bit words, all 0 without a
// package. The tool takes retryNum, searchDeviceTimeout and readAckTimeout
// as signed 32-bit numbers (milliseconds for the two time-outs), sends only
// the low 16 bits of switchDelay to the device, and only prints rebootDelay.
struct Settings {
    uint32_t retryNum = 0;
    uint32_t rebootDelay = 0;
    uint32_t switchDelay = 0;
    uint32_t searchDeviceTimeout = 0;
    uint32_t readAckTimeout = 0;
};

// The longest time-out a package may hold: the tool reads the time-outs as
// signed 32-bit milliseconds, and a negative one would reach the HID library
// as "wait forever".
inline constexpr uint32_t kMaxTimeoutMs = 0x7FFFFFFF;

// Why a package's settings cannot be used (empty when they can): a
// searchDeviceTimeout or readAckTimeout above kMaxTimeoutMs. retryNum 0 and
// searchDeviceTimeout 0 are sound (the engine fails after one response; the
// search gives up at once).
std::string settingsProblem(const Settings& settings);

}  // namespace iap
