// The five timing settings of a tool package.
#pragma once

#include <cstdint>

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

}  // namespace iap
