// The simulated bootloader takes any sequence of output reports: it must
// answer each with well-formed input reports and never fault.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sim/sim_bootloader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    iap::sim::BootloaderConfig config;
    config.flashSize = 64 * 1024;
    iap::sim::SimBootloader device(config);
    device.onLeave = [&device](iap::sim::Mode target, uint16_t, bool disconnect) {
        if (!disconnect) device.enterMode(target);
    };
    for (size_t pos = 0; pos < size; pos += 64) {
        uint8_t report[64] = {};
        std::memcpy(report, data + pos, size - pos < 64 ? size - pos : 64);
        for (const auto& reply : device.onOutputReport(report)) {
            if (reply.size() != 64 || reply[1] != 0xAA) __builtin_trap();
        }
    }
    return 0;
}
