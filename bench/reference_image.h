// What the upgrade benchmarks share: the reference image (payload 144,608
// bytes of a fixed pseudo-random sequence, block size 256: 565 blocks, the
// last of 224 bytes) and standard output kept out of the figures.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bytes/firmware_image.h"

namespace iap::bench {

inline constexpr size_t kPayload = 144608;
inline constexpr uint16_t kBlockSize = 256;

inline std::vector<uint8_t> referenceImage(std::vector<uint8_t>& payload) {
    payload.resize(kPayload);
    uint32_t x = 0x2545F491;
    for (uint8_t& b : payload) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    ImageHeaderFields fields;
    fields.blockSize = kBlockSize;
    return buildFirmwareImage(fields, payload);
}

// The window writes the engine's line per step to standard output; keep it out
// of the figures (as /dev/null would take it).
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_ = -1;
};

}  // namespace iap::bench
