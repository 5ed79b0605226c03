#include "package/payload_file.h"

#include <algorithm>
#include <numeric>

#include "bytes/hex.h"

namespace iap {

namespace {

std::string address(uint64_t value) { return "0x" + hexText(value, value > 0xFFFFFFFFu ? 16 : 8); }

std::string placeOf(const Segments& s, const Chunk& c) { return std::string(s.placeName) + " " + std::to_string(c.place); }

}  // namespace

const char* payloadFormatName(PayloadFormat format) {
    switch (format) {
    case PayloadFormat::IntelHex: return "Intel HEX";
    case PayloadFormat::SRecord: return "Motorola S-record";
    case PayloadFormat::Elf: return "ELF";
    case PayloadFormat::Binary: break;
    }
    return "raw binary";
}

std::optional<PayloadFormat> payloadFormatFromOption(const std::string& name) {
    if (name == "bin") return PayloadFormat::Binary;
    if (name == "hex") return PayloadFormat::IntelHex;
    if (name == "srec") return PayloadFormat::SRecord;
    if (name == "elf") return PayloadFormat::Elf;
    return std::nullopt;
}

PayloadFormat detectPayloadFormat(std::span<const uint8_t> file) {
    if (file.size() >= 4 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' && file[3] == 'F') {
        return PayloadFormat::Elf;
    }
    size_t i = 0;
    while (i < file.size() && (file[i] == ' ' || file[i] == '\t' || file[i] == '\r' || file[i] == '\n')) ++i;
    const std::span<const uint8_t> first = file.subspan(i);
    if (first.size() >= 11 && first[0] == ':' && hexByte(first, 1) >= 0 && hexByte(first, 3) >= 0) {
        return PayloadFormat::IntelHex;
    }
    if (first.size() >= 10 && first[0] == 'S' && first[1] >= '0' && first[1] <= '9' && hexByte(first, 2) >= 0 &&
        hexByte(first, 4) >= 0) {
        return PayloadFormat::SRecord;
    }
    return PayloadFormat::Binary;
}

std::vector<uint8_t> layOut(const Segments& s, const PayloadLayout& layout, uint64_t* startOut) {
    if (s.chunks.empty()) throw PayloadError("the file holds no data");
    std::vector<size_t> order(s.chunks.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&s](size_t a, size_t b) { return s.chunks[a].address < s.chunks[b].address; });
    const Chunk& lowest = s.chunks[order.front()];
    const uint64_t start = layout.base.value_or(lowest.address);
    if (lowest.address < start) {
        throw PayloadError(placeOf(s, lowest) + ": data at " + address(lowest.address) + " lies below --base " +
                           address(start));
    }
    uint64_t end = start;
    const Chunk* reaching = nullptr;  // the chunk that ends highest so far
    for (size_t index : order) {
        const Chunk& c = s.chunks[index];
        if (c.size > UINT64_MAX - c.address) {
            throw PayloadError(placeOf(s, c) + ": data runs past the top of the address space");
        }
        if (reaching && c.address < end) {
            const Chunk& later = c.place > reaching->place ? c : *reaching;
            const Chunk& earlier = c.place > reaching->place ? *reaching : c;
            throw PayloadError(placeOf(s, later) + ": data at " + address(later.address) + " overlaps the data of " +
                               placeOf(s, earlier));
        }
        if (c.address + c.size > end) {
            end = c.address + c.size;
            reaching = &c;
        }
    }
    if (end - start > layout.maxSize) {
        throw PayloadError("the data from " + address(start) + " to " + address(end - 1) + " makes an image of " +
                           std::to_string(end - start) + " bytes, larger than the image header can describe (" +
                           std::to_string(layout.maxSize) + " bytes)");
    }
    std::vector<uint8_t> image(static_cast<size_t>(end - start), layout.fill);
    for (const Chunk& c : s.chunks) {
        std::copy_n(s.data.begin() + static_cast<std::ptrdiff_t>(c.offset), c.size,
                    image.begin() + static_cast<std::ptrdiff_t>(c.address - start));
    }
    if (startOut) *startOut = start;
    return image;
}

Payload readPayload(std::span<const uint8_t> file, std::optional<PayloadFormat> format, const PayloadLayout& layout) {
    Payload out;
    out.format = format.value_or(detectPayloadFormat(file));
    switch (out.format) {
    case PayloadFormat::Binary:
        if (file.size() > layout.maxSize) {
            throw PayloadError("the image of " + std::to_string(file.size()) +
                               " bytes is larger than the image header can describe (" +
                               std::to_string(layout.maxSize) + " bytes)");
        }
        out.bytes.assign(file.begin(), file.end());
        out.start = layout.base.value_or(0);
        return out;
    case PayloadFormat::IntelHex: out.bytes = layOut(readIntelHex(file), layout, &out.start); break;
    case PayloadFormat::SRecord: out.bytes = layOut(readSRecord(file), layout, &out.start); break;
    case PayloadFormat::Elf: out.bytes = layOut(readElfSegments(file), layout, &out.start); break;
    }
    return out;
}

}  // namespace iap
