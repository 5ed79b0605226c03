// The signature section of a signed package. It lies between the package's
// last section and the trailer and ends in a marker of its own; no header
// offset points at it, so a reader that follows the header never sees it.
//
//   0    4  scheme (1: Ed25519 over the relocatable package, see
//           package_signature.h)
//   4   32  the signer's public key
//   36  64  the signature
//   100  4  size of the section in bytes, marker included (112)
//   104  8  marker "IAP-SIG1"
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace iap {

constexpr std::array<uint8_t, 8> kSignatureMarker{'I', 'A', 'P', '-', 'S', 'I', 'G', '1'};
constexpr uint32_t kSignatureSchemeEd25519 = 1;
constexpr size_t kSignatureSectionSize = 112;

using PublicKey = std::array<uint8_t, 32>;
using Signature = std::array<uint8_t, 64>;

struct SignatureSection {
    PublicKey signer{};
    Signature signature{};
};

struct SignatureSectionRead {
    std::optional<SignatureSection> section;  // a sound section
    size_t size = 0;    // bytes the section takes (0: no marker, the package is unsigned)
    std::string error;  // the marker is there but the section is unsound
};

// Reads the section that ends where `beforeTrailer` ends (the file up to
// its package trailer). No marker: size 0, no error. Never reads outside
// the span.
SignatureSectionRead readSignatureSection(std::span<const uint8_t> beforeTrailer);

std::vector<uint8_t> encodeSignatureSection(const SignatureSection& section);

}  // namespace iap
