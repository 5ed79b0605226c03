// Signing a tool's package and checking the signature. What is signed is
// everything the tool reads of the package, in a form that does not depend
// on where the package lies: the package as encodePackage writes it at
// offset 0 (header with the five settings, firmware image, device IDs,
// colours, image table and images), after a text naming the scheme. The
// executable part is not covered, so a new build of the bare tool carrying
// the same package keeps its signature.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/signing_key.h"

namespace iap {

enum class SignatureState {
    Unsigned,  // no signature section
    Valid,     // a signature that holds for the package, by `signer`
    Broken,    // a section that is unsound, or a signature that does not hold
};

struct PackageSignature {
    SignatureState state = SignatureState::Unsigned;
    PublicKey signer{};  // the key named in the section (Valid, and Broken when readable)
    std::string detail;  // why Broken
};

// The bytes a signature covers.
std::vector<uint8_t> signedBytes(const Package& package);

// The signature of the file's package; parse is parsePackage(file), which
// must have found a sound package.
PackageSignature readPackageSignature(std::span<const uint8_t> file, const PackageParse& parse);

// The tool file with its package signed by keys: a signature section put
// (or one already there replaced) between the package and its trailer.
// Nothing else of the file changes. Throws std::runtime_error when the file
// carries no sound package.
std::vector<uint8_t> signToolFile(std::span<const uint8_t> file, const KeyPair& keys);

}  // namespace iap
