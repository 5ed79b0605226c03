// Fuzzes the signature section's reader with the input taken as a file up
// to its package trailer: a sound section must encode back to the bytes it
// was read from, and a section never claims more bytes than there are. The
// input with a trailer after it goes through the package reader and, when
// that finds a sound package, through the signature check.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "package/package_signature.h"
#include "package/signature_section.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    const iap::SignatureSectionRead read = iap::readSignatureSection(input);
    if (read.size > size || (read.section && !read.error.empty())) std::abort();
    if (read.section) {
        const std::vector<uint8_t> again = iap::encodeSignatureSection(*read.section);
        if (again.size() != read.size || !std::equal(again.begin(), again.end(), input.end() - long(read.size))) {
            std::abort();
        }
    }
    std::vector<uint8_t> file(data, data + size);
    const uint8_t trailer[8] = {0, 0, 0, 0, 0xAC, 0x6A, 0x2C, 0x5F};
    file.insert(file.end(), trailer, trailer + 8);
    const iap::PackageParse parse = iap::parsePackage(file);
    if (parse.package) {
        const iap::PackageSignature signature = iap::readPackageSignature(file, parse);
        if (signature.state == iap::SignatureState::Valid && !read.section) std::abort();
    }
    return 0;
}
