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

    // Takes the transfer pack of one 64-byte report into the buffer. Returns
    // true when the response holds its A + 7 bytes, false when more reports
    // are needed. Throws transfer_pack_exception for a bad report,
    // business_pack_exception for a first pack of fewer than 7 bytes, an
    // empty pack, a data length above 8198, a first pack arriving inside a
    // response, or bytes past the declared length.
    bool append(const uint8_t* report);

    // Checks a complete response: code 0xB0 and the CRC (high byte first);
    // throws business_pack_exception.
    void check() const;

    // append, then check once complete: true when complete and valid.
    bool feed(const uint8_t* report);

    size_t length() const { return fill_; }

private:
    uint8_t* buffer_;
    size_t capacity_;
    size_t fill_ = 0;
    size_t dataLength_ = 0;  // A; 0 until a first pack declares it
};

}  // namespace iap
