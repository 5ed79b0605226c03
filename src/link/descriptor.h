// The two facts discovery reads from a HID report descriptor: the first
// Report ID item (0x85) and the first Usage Page item with two data bytes
// (0x06). The walk steps over HID short items by their real size (low two
// bits of the prefix: 0, 1, 2 or 4 data bytes) and over long items (0xFE,
// then data size, tag and data). An item whose data would run past the end
// of the descriptor ends the walk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iap {

struct DescriptorFacts {
    bool hasReportId = false;
    uint8_t reportId = 0;
    bool hasUsagePage = false;
    uint16_t usagePage = 0;
};

DescriptorFacts walkReportDescriptor(const uint8_t* descriptor, size_t length);

}  // namespace iap
