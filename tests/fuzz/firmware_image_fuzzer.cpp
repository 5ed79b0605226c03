// The firmware image header on any bytes, and built images read back.
//
// Input byte 0 picks the mode. Even: the rest is an image as it stands;
// readImageHeader and firmwareEngineProblem must stay inside it and agree on
// its size and block size. Odd: the rest gives header fields and a payload:
//   mask(1) blockSize(2) deviceFlags(2) deviceWord(4) signature(8)
//   chip: length(1) text | item: length(1) text | hw(3) sw(3)
//   flip: offset(2) xor(1) | payload (the rest)
// A field whose bit in mask is clear is turned into a valid one (block size
// 1..8192, printable text, "Vd.d.d" from three digits); a set bit takes it
// raw (versions as six bytes), so buildFirmwareImage may refuse it. Whatever
// builds must read back as built, with both CRCs holding, and one changed
// byte (at the flip offset) must break the CRC that covers it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "bytes/firmware_image.h"

namespace {

using namespace iap;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() {
        const uint8_t low = byte();
        return static_cast<uint16_t>(low | (byte() << 8));
    }
    uint32_t u32() {
        const uint16_t low = u16();
        return low | (static_cast<uint32_t>(u16()) << 16);
    }
    std::string text(size_t length, bool raw) {
        std::string out;
        for (size_t i = 0; i < length; ++i) {
            const uint8_t b = byte();
            out.push_back(static_cast<char>(raw ? b : 0x20 + b % 95));
        }
        return out;
    }
    std::string version(bool raw) {
        if (raw) return text(6, true);
        std::string out = "V0.0.0";
        for (const size_t i : {size_t{1}, size_t{3}, size_t{5}}) out[i] = static_cast<char>('0' + byte() % 10);
        return out;
    }
    std::vector<uint8_t> rest() {
        std::vector<uint8_t> out(data_ + pos_, data_ + size_);
        pos_ = size_;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

void checkAsIs(const uint8_t* data, size_t size) {
    // An exact-size copy: any read past the image is caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    const std::span<const uint8_t> image(copy.get(), size);
    const std::string problem = firmwareEngineProblem(image);
    if (size < kImageHeaderSize) {
        try {
            (void)readImageHeader(image);
            __builtin_trap();  // a short image has no header to read
        } catch (const std::invalid_argument&) {
        }
        if (problem.empty()) __builtin_trap();
        return;
    }
    const ImageHeaderView v = readImageHeader(image);
    if (v.actualPayloadLength != size - kImageHeaderSize || v.signature.size() != 8 ||
        v.chip.size() > 15 || v.item.size() > 15 || v.hwVersion.size() != 6 || v.swVersion.size() != 6) {
        __builtin_trap();
    }
    // The engine takes the image exactly when its payload fits the header's block size.
    const bool takes = size > kImageHeaderSize && v.blockSize >= 1 && v.blockSize <= kMaxBlockSize &&
                       blockCount(v.actualPayloadLength, v.blockSize) <= kMaxBlockCount;
    if (problem.empty() != takes) __builtin_trap();
}

void checkBuilt(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t mask = in.byte();
    const auto raw = [mask](int bit) { return ((mask >> bit) & 1) != 0; };
    ImageHeaderFields fields;
    const uint16_t blockSize = in.u16();
    fields.blockSize = raw(0) ? blockSize : static_cast<uint16_t>(1 + blockSize % kMaxBlockSize);
    fields.deviceFlags = in.u16();
    fields.deviceWord = in.u32();
    fields.signature = in.text(8, raw(1));
    fields.chip = in.text(raw(2) ? in.byte() % 20 : in.byte() % 16, raw(2));
    fields.item = in.text(raw(3) ? in.byte() % 20 : in.byte() % 16, raw(3));
    fields.hwVersion = in.version(raw(4));
    fields.swVersion = in.version(raw(5));
    const uint16_t flipAt = in.u16();
    const uint8_t flipXor = in.byte();
    const std::vector<uint8_t> payload = in.rest();

    const uint64_t blocks =
        fields.blockSize ? (payload.size() + fields.blockSize - 1) / fields.blockSize : 0;
    std::vector<uint8_t> image;
    try {
        image = buildFirmwareImage(fields, payload);
    } catch (const std::invalid_argument&) {
        // Refusing is right only for a raw field or a payload the engine cannot take.
        if ((mask & 0x3F) == 0 && !payload.empty() && blocks <= kMaxBlockCount) __builtin_trap();
        return;
    }
    if (payload.empty() || image.size() != kImageHeaderSize + payload.size()) __builtin_trap();
    if (std::memcmp(image.data() + kImageHeaderSize, payload.data(), payload.size()) != 0) __builtin_trap();

    const ImageHeaderView v = readImageHeader(image);
    if (v.signature != fields.signature || v.chip != fields.chip || v.item != fields.item ||
        v.hwVersion != fields.hwVersion || v.swVersion != fields.swVersion ||
        v.deviceFlags != fields.deviceFlags || v.deviceWord != fields.deviceWord ||
        v.blockSize != fields.blockSize) {
        __builtin_trap();
    }
    if (v.blockCount != blocks || v.payloadLength != payload.size() || v.actualPayloadLength != payload.size()) {
        __builtin_trap();
    }
    if (v.payloadCrc != v.payloadCrcComputed || v.headerCrc != v.headerCrcComputed) __builtin_trap();
    if (!firmwareEngineProblem(image).empty()) __builtin_trap();
    // Unused header bytes are erased flash.
    for (size_t i = 1 + fields.chip.size(); i < image_header::kCountedTextSize; ++i) {
        if (image[image_header::kChip + i] != 0xFF) __builtin_trap();
    }

    // One changed byte is caught by the CRC over its part of the image.
    if (flipXor == 0) return;
    const size_t at = flipAt % image.size();
    image[at] ^= flipXor;
    const ImageHeaderView flipped = readImageHeader(image);
    const bool caught = at < kImageHeaderSize ? flipped.headerCrc != flipped.headerCrcComputed
                                              : flipped.payloadCrc != flipped.payloadCrcComputed;
    if (!caught) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        checkBuilt(data + 1, size - 1);
    } else {
        checkAsIs(data + 1, size - 1);
    }
    return 0;
}
