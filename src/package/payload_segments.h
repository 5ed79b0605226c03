// Firmware files as engineers hand them over (Intel HEX, Motorola S-record,
// ELF): the data they hold, as chunks of bytes at addresses. Each reader is
// small and our own (intel_hex.cpp, srecord.cpp, elf_segments.cpp); none
// reads outside its input, and each refuses a file it cannot read with the
// line or segment at fault. payload_file.h lays the chunks out as one image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace iap {

// A firmware file that cannot be used; the message names the line or segment.
struct PayloadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// size bytes of Segments::data from offset, to lie at address; place is the
// file's line number (HEX, S-record) or program header index (ELF).
struct Chunk {
    uint64_t address = 0;
    size_t offset = 0;
    size_t size = 0;
    uint64_t place = 0;
};

struct Segments {
    std::vector<uint8_t> data;
    std::vector<Chunk> chunks;  // in file order
    const char* placeName = "line";
};

Segments readIntelHex(std::span<const uint8_t> file);  // throws PayloadError
Segments readSRecord(std::span<const uint8_t> file);   // throws PayloadError
Segments readElfSegments(std::span<const uint8_t> file);  // PT_LOAD by physical address; throws PayloadError

// The records of a text file: each line without its line break, with its number.
struct TextLine {
    std::span<const uint8_t> text;
    uint64_t number = 0;
};
std::vector<TextLine> textLines(std::span<const uint8_t> file);

// The value of hexadecimal digit pairs at text[at..], or -1 when not hex.
int hexByte(std::span<const uint8_t> text, size_t at);

}  // namespace iap
