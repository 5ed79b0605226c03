#include "package/authenticode.h"

#include "bytes/byte_order.h"
#include "package/package_format.h"

namespace iap {

namespace {

constexpr size_t kNewHeaderPointer = 0x3C;  // e_lfanew in the MS-DOS header
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kSecurityDirectory = 4;    // IMAGE_DIRECTORY_ENTRY_SECURITY
constexpr size_t kDirectoryEntrySize = 8;   // offset, size
constexpr size_t kMaxSignerPadding = 7;     // the table starts 8-byte aligned

bool endsInMagic(std::span<const uint8_t> bytes) {
    return bytes.size() >= kTrailerSize && loadU32(bytes.data() + bytes.size() - 4) == kPackageMagic;
}

}  // namespace

std::optional<CertificateTable> certificateTable(std::span<const uint8_t> file) {
    const uint64_t size = file.size();
    if (size < kNewHeaderPointer + 4 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
    const uint64_t pe = loadU32(file.data() + kNewHeaderPointer);
    if (pe + 4 + kCoffHeaderSize > size) return std::nullopt;
    const uint8_t* p = file.data() + pe;
    if (p[0] != 'P' || p[1] != 'E' || p[2] != 0 || p[3] != 0) return std::nullopt;
    const uint64_t optionalSize = loadU16(p + 4 + 16);  // SizeOfOptionalHeader
    const uint64_t optional = pe + 4 + kCoffHeaderSize;
    if (optionalSize < 2 || optional + optionalSize > size) return std::nullopt;
    const uint8_t* o = file.data() + optional;
    // PE32 and PE32+ differ in where the directory count and the directories lie.
    uint64_t countAt = 0;
    switch (loadU16(o)) {
    case 0x10B: countAt = 92; break;
    case 0x20B: countAt = 108; break;
    default: return std::nullopt;
    }
    const uint64_t entryAt = countAt + 4 + kSecurityDirectory * kDirectoryEntrySize;
    if (entryAt + kDirectoryEntrySize > optionalSize) return std::nullopt;
    if (loadU32(o + countAt) <= kSecurityDirectory) return std::nullopt;
    CertificateTable table{loadU32(o + entryAt), loadU32(o + entryAt + 4)};
    if (table.offset == 0 || table.size == 0 || uint64_t{table.offset} + table.size > size) {
        return std::nullopt;
    }
    return table;
}

std::span<const uint8_t> packageSpan(std::span<const uint8_t> file) {
    if (endsInMagic(file)) return file;
    const std::optional<CertificateTable> table = certificateTable(file);
    if (!table) return file;
    std::span<const uint8_t> before = file.first(table->offset);
    for (size_t pad = 0;; ++pad) {
        if (endsInMagic(before)) return before;
        if (pad == kMaxSignerPadding || before.empty() || before.back() != 0) break;
        before = before.first(before.size() - 1);
    }
    return file;
}

}  // namespace iap
