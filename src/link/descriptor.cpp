#include "link/descriptor.h"

namespace iap {
namespace {

constexpr uint8_t kReportIdItem = 0x85;     // global, tag 8, one data byte
constexpr uint8_t kUsagePage16Item = 0x06;  // global, tag 0, two data bytes
constexpr uint8_t kLongItem = 0xFE;

}  // namespace

DescriptorFacts walkReportDescriptor(const uint8_t* descriptor, size_t length) {
    DescriptorFacts facts;
    size_t pos = 0;
    while (pos < length && !(facts.hasReportId && facts.hasUsagePage)) {
        const uint8_t prefix = descriptor[pos];
        size_t header = 1;
        size_t dataSize = 0;
        if (prefix == kLongItem) {
            if (length - pos < 3) {
                break;
            }
            header = 3;
            dataSize = descriptor[pos + 1];
        } else {
            static constexpr size_t kSizes[4] = {0, 1, 2, 4};
            dataSize = kSizes[prefix & 0x03];
        }
        if (length - pos < header + dataSize) {
            break;  // truncated item
        }
        const uint8_t* data = descriptor + pos + header;
        if (prefix == kReportIdItem && !facts.hasReportId) {
            facts.hasReportId = true;
            facts.reportId = data[0];
        } else if (prefix == kUsagePage16Item && !facts.hasUsagePage) {
            facts.hasUsagePage = true;
            facts.usagePage = static_cast<uint16_t>(data[0] | (data[1] << 8));
        }
        pos += header + dataSize;
    }
    return facts;
}

}  // namespace iap
