#include "link/hid_caps_descriptor.h"

#include <cstring>

namespace iap {

std::vector<uint8_t> descriptorFromCaps(const HidCapsSummary& caps) {
    std::vector<uint8_t> d = {
        0x06, static_cast<uint8_t>(caps.usagePage & 0xFF), static_cast<uint8_t>(caps.usagePage >> 8),
        0x0A, static_cast<uint8_t>(caps.usage & 0xFF), static_cast<uint8_t>(caps.usage >> 8),
        0xA1, 0x01,
    };
    for (uint8_t id : caps.reportIds) {
        if (id == 0) continue;
        d.push_back(0x85);
        d.push_back(id);
        break;
    }
    d.push_back(0xC0);
    return d;
}

int copyDescriptor(const std::vector<uint8_t>& descriptor, uint8_t* buf, size_t size) {
    const size_t n = descriptor.size() < size ? descriptor.size() : size;
    if (n > 0) std::memcpy(buf, descriptor.data(), n);
    return static_cast<int>(n);
}

}  // namespace iap
