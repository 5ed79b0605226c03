#include "package/signature_section.h"

#include <algorithm>

#include "bytes/byte_order.h"

namespace iap {

namespace {
constexpr size_t kMarkerSize = kSignatureMarker.size();
constexpr size_t kSizeField = 4;
constexpr size_t kSchemeField = 4;
}  // namespace

SignatureSectionRead readSignatureSection(std::span<const uint8_t> beforeTrailer) {
    SignatureSectionRead result;
    const size_t n = beforeTrailer.size();
    if (n < kMarkerSize || !std::equal(kSignatureMarker.begin(), kSignatureMarker.end(),
                                       beforeTrailer.end() - kMarkerSize)) {
        return result;
    }
    if (n < kMarkerSize + kSizeField) {
        result.error = "signature section cut short";
        return result;
    }
    const uint32_t size = loadU32(beforeTrailer.data() + n - kMarkerSize - kSizeField);
    if (size < kMarkerSize + kSizeField + kSchemeField || size > n) {
        result.error = "signature section claims " + std::to_string(size) + " bytes";
        return result;
    }
    result.size = size;
    const uint8_t* start = beforeTrailer.data() + n - size;
    const uint32_t scheme = loadU32(start);
    if (scheme != kSignatureSchemeEd25519) {
        result.error = "unknown signature scheme " + std::to_string(scheme);
        return result;
    }
    if (size != kSignatureSectionSize) {
        result.error = "signature section of " + std::to_string(size) + " bytes; an Ed25519 one has " +
                       std::to_string(kSignatureSectionSize);
        return result;
    }
    SignatureSection section;
    std::copy_n(start + 4, section.signer.size(), section.signer.begin());
    std::copy_n(start + 36, section.signature.size(), section.signature.begin());
    result.section = section;
    return result;
}

std::vector<uint8_t> encodeSignatureSection(const SignatureSection& section) {
    std::vector<uint8_t> out;
    out.reserve(kSignatureSectionSize);
    appendU32(out, kSignatureSchemeEd25519);
    out.insert(out.end(), section.signer.begin(), section.signer.end());
    out.insert(out.end(), section.signature.begin(), section.signature.end());
    appendU32(out, static_cast<uint32_t>(kSignatureSectionSize));
    out.insert(out.end(), kSignatureMarker.begin(), kSignatureMarker.end());
    return out;
}

}  // namespace iap
