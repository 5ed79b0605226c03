// Fuzzes one reader of firmware files (IAP_PAYLOAD_READER: readIntelHex,
// readSRecord or readElfSegments; one target each), then lays out what it
// read as build does, under a 1 MiB cap so a far-flung address costs nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "package/payload_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    try {
        const iap::Segments segments = iap::IAP_PAYLOAD_READER(file);
        for (const iap::Chunk& c : segments.chunks) {
            if (c.offset > segments.data.size() || c.size > segments.data.size() - c.offset) std::abort();
        }
        uint64_t start = 0;
        const std::vector<uint8_t> image = iap::layOut(segments, {std::nullopt, 0xFF, 1u << 20}, &start);
        if (image.size() > (1u << 20)) std::abort();
    } catch (const iap::PayloadError&) {
    }
    return 0;
}
