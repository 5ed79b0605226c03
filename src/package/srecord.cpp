// Motorola S-record: "S<type><count><address><data><checksum>"; data in S1,
// S2 and S3 (16-, 24- and 32-bit addresses); S0 (header) and S5/S6 (record
// counts) are checked and skipped; S7, S8, S9 end the file.
#include <string>

#include "package/payload_segments.h"

namespace iap {

Segments readSRecord(std::span<const uint8_t> file) {
    Segments out;
    for (const TextLine& line : textLines(file)) {
        if (line.text.empty()) continue;
        const std::string at = "line " + std::to_string(line.number) + ": ";
        if (line.text.size() < 2 || line.text[0] != 'S' || line.text[1] < '0' || line.text[1] > '9') {
            throw PayloadError(at + "an S-record starts with S and its type digit");
        }
        const int type = line.text[1] - '0';
        std::vector<uint8_t> record;  // count, address, data, checksum
        for (size_t i = 2; i < line.text.size(); i += 2) {
            const int value = hexByte(line.text, i);
            if (value < 0) throw PayloadError(at + "not a record of hexadecimal digit pairs");
            record.push_back(static_cast<uint8_t>(value));
        }
        if (record.size() < 2 || record.size() != 1u + record[0]) {
            throw PayloadError(at + "the record's length does not match its byte count");
        }
        uint8_t sum = 0;
        for (uint8_t b : record) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0xFF) throw PayloadError(at + "bad checksum");
        if (type == 4) throw PayloadError(at + "S4 is not a record type");
        if (type >= 7) return out;
        if (type == 0 || type == 5 || type == 6) continue;
        const size_t addressSize = static_cast<size_t>(type) + 1;  // S1: 2, S2: 3, S3: 4
        if (record.size() < 2 + addressSize) throw PayloadError(at + "the record is too short for its address");
        uint64_t address = 0;
        for (size_t i = 0; i < addressSize; ++i) address = address << 8 | record[1 + i];
        const size_t count = record.size() - 2 - addressSize;
        if (count == 0) continue;
        out.chunks.push_back({address, out.data.size(), count, line.number});
        out.data.insert(out.data.end(), record.begin() + 1 + static_cast<std::ptrdiff_t>(addressSize), record.end() - 1);
    }
    return out;
}

}  // namespace iap
