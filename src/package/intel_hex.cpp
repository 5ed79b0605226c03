// Intel HEX: ":LLAAAATT<data>CC" records; data (00), end of file (01),
// extended segment address (02: base = value * 16), extended linear address
// (04: the upper 16 address bits); start addresses (03, 05) are ignored.
#include <string>

#include "package/payload_segments.h"

namespace iap {

Segments readIntelHex(std::span<const uint8_t> file) {
    Segments out;
    uint64_t base = 0;
    for (const TextLine& line : textLines(file)) {
        if (line.text.empty()) continue;
        const std::string at = "line " + std::to_string(line.number) + ": ";
        if (line.text[0] != ':') throw PayloadError(at + "an Intel HEX record starts with ':'");
        std::vector<uint8_t> record;
        for (size_t i = 1; i < line.text.size(); i += 2) {
            const int value = hexByte(line.text, i);
            if (value < 0) throw PayloadError(at + "not a record of hexadecimal digit pairs");
            record.push_back(static_cast<uint8_t>(value));
        }
        if (record.size() < 5 || record.size() != 5u + record[0]) {
            throw PayloadError(at + "the record's length does not match its byte count");
        }
        uint8_t sum = 0;
        for (uint8_t b : record) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0) throw PayloadError(at + "bad checksum");
        const size_t count = record[0];
        const uint32_t offset = static_cast<uint32_t>(record[1] << 8 | record[2]);
        const uint8_t* data = record.data() + 4;
        switch (record[3]) {
        case 0x00:
            if (count == 0) break;
            out.chunks.push_back({base + offset, out.data.size(), count, line.number});
            out.data.insert(out.data.end(), data, data + count);
            break;
        case 0x01:
            return out;
        case 0x02:
        case 0x04:
            if (count != 2) throw PayloadError(at + "an extended address record holds 2 bytes");
            base = static_cast<uint64_t>(data[0] << 8 | data[1]) << (record[3] == 0x02 ? 4 : 16);
            break;
        case 0x03:
        case 0x05:
            break;
        default:
            throw PayloadError(at + "unknown record type " + std::to_string(record[3]));
        }
    }
    return out;
}

}  // namespace iap
