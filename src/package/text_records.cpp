// Lines and hexadecimal digit pairs, shared by the HEX and S-record readers.
#include "package/payload_segments.h"

namespace iap {

namespace {

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::vector<TextLine> textLines(std::span<const uint8_t> file) {
    std::vector<TextLine> lines;
    uint64_t number = 1;
    size_t start = 0;
    while (start < file.size()) {
        size_t end = start;
        while (end < file.size() && file[end] != '\n') ++end;
        size_t last = end;  // trailing CR, spaces and tabs are not part of the record
        while (last > start && (file[last - 1] == '\r' || file[last - 1] == ' ' || file[last - 1] == '\t')) --last;
        lines.push_back({file.subspan(start, last - start), number++});
        start = end + 1;
    }
    return lines;
}

int hexByte(std::span<const uint8_t> text, size_t at) {
    if (at + 2 > text.size()) return -1;
    const int high = hexDigit(text[at]);
    const int low = hexDigit(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

}  // namespace iap
