#include "link/transfer_pack.h"

#include <cstring>

#include "link/exceptions.h"

namespace iap {
namespace {

uint8_t xorOf(const uint8_t* bytes, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) {
        sum ^= bytes[i];
    }
    return sum;
}

}  // namespace

void frameTransferPack(uint8_t* report, uint8_t reportId, const uint8_t* payload, size_t length,
                       uint16_t remaining, bool first) {
    if (length > kMaxTransferPayload) {
        length = kMaxTransferPayload;
    }
    std::memset(report, 0, kReportSize);
    const uint16_t sequence = static_cast<uint16_t>((remaining & 0x7FFF) | (first ? 0x8000 : 0));
    report[0] = reportId;
    report[1] = kTransferMarker;
    report[2] = 0x00;
    report[3] = static_cast<uint8_t>(sequence & 0xFF);
    report[4] = static_cast<uint8_t>(sequence >> 8);
    report[5] = static_cast<uint8_t>(length & 0xFF);
    report[6] = static_cast<uint8_t>(length >> 8);
    if (length > 0) {
        std::memcpy(report + 7, payload, length);
    }
    report[7 + length] = xorOf(report + 2, length + 5);
}

TransferPack parseTransferPack(const uint8_t* report) {
    if (report[1] != kTransferMarker) {
        throw transfer_pack_exception();
    }
    const size_t length = static_cast<size_t>(report[5] | (report[6] << 8));
    if (length > kMaxTransferPayload) {
        throw transfer_pack_exception();
    }
    if (xorOf(report + 2, length + 5) != report[7 + length]) {
        throw transfer_pack_exception();
    }
    return TransferPack{report + 7, length, (report[4] & 0x80) != 0};
}

}  // namespace iap
