// Fuzzes the tool package parser with whole files, and with the input taken
// as a package whose trailer points at its first byte (so mutations land in
// the header and tables at once). The images of a sound package, and the
// input itself as an image file, are decoded under the decode caps: a file
// that got past them with a costly decode would trip the fuzzer's memory
// limit. The format alone, much faster, is package_format_fuzzer.cpp.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#include "bytes/firmware_image.h"
#include "package/image_decode.h"
#include "package/package_format.h"

namespace {

void decodeUnderCaps(const std::vector<iap::PackageImage>& images) {
    if (!iap::imagesCostProblem(images).empty()) return;
    for (const iap::PackageImage& image : images) {
        try {
            const iap::DecodedImage decoded = iap::decodeImage(image.file);
            if (decoded.rgba.size() != size_t(decoded.width) * size_t(decoded.height) * 4) std::abort();
        } catch (const std::exception&) {
        }
    }
}

void check(const std::vector<uint8_t>& file) {
    const iap::PackageParse parse = iap::parsePackage(file);
    if (!parse.package) return;
    // What a sound package promises its readers.
    const iap::Package& p = *parse.package;
    size_t imageBytes = 0;
    for (const iap::PackageImage& image : p.images) imageBytes += image.file.size();
    if (p.colours.size() < iap::kMinColourCount || p.images.size() < 19 ||
        p.firmware.size() <= iap::kImageHeaderSize ||
        !iap::firmwareEngineProblem(p.firmware).empty() || imageBytes > file.size()) {
        std::abort();
    }
    const iap::ImageHeaderView header = iap::readImageHeader(p.firmware);
    if (header.blockSize == 0 || header.blockSize > iap::kMaxBlockSize) std::abort();
    decodeUnderCaps(p.images);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    decodeUnderCaps({{0, file}});
    check(file);
    // The same bytes as a package at offset 0 of the file.
    const uint8_t trailer[8] = {0, 0, 0, 0, 0xAC, 0x6A, 0x2C, 0x5F};
    file.insert(file.end(), trailer, trailer + 8);
    check(file);
    return 0;
}
