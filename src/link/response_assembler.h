// Collects one response business pack from the transfer packs of one or more
// received reports and checks it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iap {

class ResponseAssembler {
public:
    // buffer receives the response; capacity is its size (the connection
    // passes its 8208-byte response buffer). Nothing is written past it.
    ResponseAssembler(uint8_t* buffer, size_t capacity);

    // Takes the transfer pack of one 64-byte report. Returns true when the
    // response is complete and valid (then length() is A + 7), false when
    // more reports are needed. Throws transfer_pack_exception for a bad
    // report, business_pack_exception for a bad response: a first pack of
    // fewer than 7 bytes, an empty pack, a data length above 8198, a first pack arriving
    // inside a response, bytes past the declared length, a code other than
    // 0xB0, or a CRC mismatch.
    bool feed(const uint8_t* report);

    size_t length() const { return fill_; }

private:
    uint8_t* buffer_;
    size_t capacity_;
    size_t fill_ = 0;
    size_t dataLength_ = 0;  // A; 0 until a first pack declares it
};

}  // namespace iap
