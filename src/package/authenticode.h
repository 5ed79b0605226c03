// A code-signed Windows executable carries its Authenticode certificate
// table at the end of the file, after the tool package appended before
// signing. These functions find that table through the PE security
// directory, and the package trailer just before it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace iap {

// The certificate table named by a PE file's security directory
// (IMAGE_DIRECTORY_ENTRY_SECURITY): a file offset, not an RVA.
struct CertificateTable {
    uint32_t offset = 0;
    uint32_t size = 0;
};

// The certificate table of a PE32 or PE32+ file, when the file is one and
// its security directory names a table that lies wholly inside the file.
// Anything else (no MZ/PE headers, headers cut short, an empty directory,
// a table past the end) is nullopt. Never reads outside the span.
std::optional<CertificateTable> certificateTable(std::span<const uint8_t> file);

// The part of the file that ends in the package trailer: the whole file
// when its last bytes are the trailer; in a code-signed PE, the bytes before
// the certificate table (signers pad the file to 8 bytes with zeros first,
// so up to 7 zero bytes may sit between trailer and table). Otherwise the
// whole file, which then carries no package.
std::span<const uint8_t> packageSpan(std::span<const uint8_t> file);

}  // namespace iap
