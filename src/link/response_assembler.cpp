#include "link/response_assembler.h"

#include <cstring>

#include "bytes/byte_order.h"
#include "bytes/checksums.h"
#include "link/exceptions.h"
#include "link/packets.h"
#include "link/transfer_pack.h"

namespace iap {

ResponseAssembler::ResponseAssembler(uint8_t* buffer, size_t capacity)
    : buffer_(buffer), capacity_(capacity) {}

bool ResponseAssembler::append(const uint8_t* report) {
    const TransferPack pack = parseTransferPack(report);
    // An empty pack adds nothing; refusing it bounds the number of reports
    // one response can take.
    if (pack.length == 0) {
        throw business_pack_exception();
    }
    if (pack.first) {
        // A first pack may only open the response.
        if (fill_ != 0) {
            throw business_pack_exception();
        }
        if (pack.length < 7) {
            throw business_pack_exception();
        }
        dataLength_ = loadU16(pack.payload + 3);
        if (dataLength_ > kMaxResponseData) {
            throw business_pack_exception();
        }
    }
    const size_t expected = dataLength_ + 7;
    // Bytes past the declared length: the pack overshoots the response.
    if (fill_ + pack.length > expected || fill_ + pack.length > capacity_) {
        throw business_pack_exception();
    }
    if (pack.length > 0) {
        std::memcpy(buffer_ + fill_, pack.payload, pack.length);
    }
    fill_ += pack.length;
    return fill_ == expected;
}

void ResponseAssembler::check() const {
    if (buffer_[0] != CMD_RESPONSE) {
        throw business_pack_exception();
    }
    if (crc16Modbus(buffer_, dataLength_ + 5) != loadCrcHighFirst(buffer_ + dataLength_ + 5)) {
        throw business_pack_exception();
    }
}

bool ResponseAssembler::feed(const uint8_t* report) {
    if (!append(report)) {
        return false;
    }
    check();
    return true;
}

}  // namespace iap
