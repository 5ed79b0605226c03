#include "link/transfer_pack.h"

#include <cstring>

#include "bytes/byte_order.h"
#include "bytes/checksums.h"
#include "link/exceptions.h"

namespace iap {

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
    storeU16(report + 3, sequence);
    storeU16(report + 5, static_cast<uint16_t>(length));
    if (length > 0) {
        std::memcpy(report + 7, payload, length);
    }
    report[7 + length] = xorChecksum(report + 2, length + 5);
}

TransferPack parseTransferPack(const uint8_t* report) {
    if (report[1] != kTransferMarker) {
        throw transfer_pack_exception();
    }
    const size_t length = loadU16(report + 5);
    if (length > kMaxTransferPayload) {
        throw transfer_pack_exception();
    }
    if (xorChecksum(report + 2, length + 5) != report[7 + length]) {
        throw transfer_pack_exception();
    }
    return TransferPack{report + 7, length, (report[4] & 0x80) != 0};
}

}  // namespace iap
