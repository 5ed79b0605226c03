// Fuzzes the package format alone, nothing decoded: the Authenticode lookup
// (the PE security directory and the trailer before the certificate table),
// then the trailer, header and tables, once on the input as a whole file and
// once as a package whose trailer points at the input's first byte (so that
// mutations land in the header and tables at once). Image decoding has its
// own target (package_parser_fuzzer.cpp).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "bytes/firmware_image.h"
#include "package/authenticode.h"
#include "package/package_format.h"

namespace {

void check(std::span<const uint8_t> file) {
    const iap::PackageParse parse = iap::parsePackage(file);
    if (!parse.package) return;
    // What a sound package promises its readers.
    const iap::Package& p = *parse.package;
    size_t imageBytes = 0;
    for (const iap::PackageImage& image : p.images) imageBytes += image.file.size();
    if (!parse.hasMagic || p.colours.size() < iap::kMinColourCount || p.images.size() < 19 ||
        !iap::firmwareEngineProblem(p.firmware).empty() || imageBytes > file.size() ||
        !iap::trailerHeaderOffset(file)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    if (const auto table = iap::certificateTable(file)) {
        if (table->offset == 0 || uint64_t{table->offset} + table->size > size) std::abort();
    }
    const std::span<const uint8_t> found = iap::packageSpan(file);
    if (found.data() != data || found.size() > size) std::abort();
    check(file);
    std::vector<uint8_t> atZero(data, data + size);
    const uint8_t trailer[8] = {0, 0, 0, 0, 0xAC, 0x6A, 0x2C, 0x5F};
    atZero.insert(atZero.end(), trailer, trailer + 8);
    check(atZero);
    return 0;
}
