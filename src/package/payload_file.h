// The payload of a firmware image from the file an engineer hands over: a
// raw binary as it stands, or the data of an Intel HEX, S-record or ELF file
// laid out from its lowest address (or a given base) with gaps filled.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "package/payload_segments.h"

namespace iap {

enum class PayloadFormat { Binary, IntelHex, SRecord, Elf };

// "raw binary", "Intel HEX", "Motorola S-record", "ELF".
const char* payloadFormatName(PayloadFormat format);
// The names --payload-format takes: bin, hex, srec, elf.
std::optional<PayloadFormat> payloadFormatFromOption(const std::string& name);
// By content: ELF magic, a first record ":..." or "S<digit>...", else binary.
PayloadFormat detectPayloadFormat(std::span<const uint8_t> file);

struct PayloadLayout {
    std::optional<uint64_t> base;  // the image's first address; default the lowest
    uint8_t fill = 0xFF;           // gap bytes
    uint64_t maxSize = 0;          // the most bytes the image header can describe
};

struct Payload {
    std::vector<uint8_t> bytes;
    PayloadFormat format = PayloadFormat::Binary;
    uint64_t start = 0;  // address of bytes[0]
};

// Lays the chunks out from layout.base or their lowest address. Throws
// PayloadError naming the line or segment for data below the base or data
// that overlaps other data, and for an image larger than layout.maxSize
// (checked before anything is allocated) or without any data.
std::vector<uint8_t> layOut(const Segments& segments, const PayloadLayout& layout, uint64_t* start);

// Reads the payload in the given format, or the one its content shows. A raw
// binary is used as it stands (starting at layout.base, or 0).
Payload readPayload(std::span<const uint8_t> file, std::optional<PayloadFormat> format, const PayloadLayout& layout);

}  // namespace iap
