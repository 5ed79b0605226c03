// Transfer packs: one framed piece (at most 56 bytes) of a business pack in
// one 64-byte HID report.
//
// Report: id(1) | 0xAA | 0x00 | sequence word(2, LE) | length L(2, LE) |
//         payload(L) | checksum | unused
// Sequence word: bits 0-14 = packs of the same business pack still to come,
// bit 15 = first pack. Checksum: XOR of bytes 2 .. 6+L.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iap {

inline constexpr size_t kReportSize = 64;
inline constexpr size_t kMaxTransferPayload = 56;
inline constexpr uint8_t kTransferMarker = 0xAA;

// A checked transfer pack: points into the report it was taken from.
struct TransferPack {
    const uint8_t* payload = nullptr;
    size_t length = 0;
    bool first = false;
};

// Fills the 64-byte report (bytes after the checksum become 0).
void frameTransferPack(uint8_t* report, uint8_t reportId, const uint8_t* payload, size_t length,
                       uint16_t remaining, bool first);

// Checks the marker, the length field (at most 56, so nothing outside the
// report is read) and the checksum of a 64-byte report. Throws
// transfer_pack_exception.
TransferPack parseTransferPack(const uint8_t* report);

}  // namespace iap
