#include "package/package_signature.h"

#include <sodium.h>

#include <stdexcept>
#include <string_view>

#include "package/authenticode.h"

namespace iap {

namespace {

constexpr std::string_view kSchemeText = "usb-iap-tools package signature, Ed25519, v1\n";

// The file up to its package trailer (in a code-signed tool, the trailer
// before the certificate table).
std::span<const uint8_t> beforeTrailer(std::span<const uint8_t> file) {
    const std::span<const uint8_t> package = packageSpan(file);
    return package.first(package.size() - kTrailerSize);
}

}  // namespace

std::vector<uint8_t> signedBytes(const Package& package) {
    std::vector<uint8_t> bytes(kSchemeText.begin(), kSchemeText.end());
    const std::vector<uint8_t> encoded = encodePackage(package, 0);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    return bytes;
}

PackageSignature readPackageSignature(std::span<const uint8_t> file, const PackageParse& parse) {
    PackageSignature result;
    if (!parse.package) throw std::logic_error("readPackageSignature needs a sound package");
    const SignatureSectionRead read = readSignatureSection(beforeTrailer(file));
    if (read.size == 0 && read.error.empty()) return result;
    result.state = SignatureState::Broken;
    if (!read.section) {
        result.detail = read.error;
        return result;
    }
    result.signer = read.section->signer;
    startSodium();
    std::vector<uint8_t> message;
    try {
        message = signedBytes(*parse.package);
    } catch (const std::length_error&) {  // tables that overlap can read back larger than 4 GiB
        result.detail = "the package is too large to check";
        return result;
    }
    if (crypto_sign_verify_detached(read.section->signature.data(), message.data(), message.size(),
                                    read.section->signer.data()) != 0) {
        result.detail = "the signature does not hold for the package";
        return result;
    }
    result.state = SignatureState::Valid;
    return result;
}

std::vector<uint8_t> signToolFile(std::span<const uint8_t> file, const KeyPair& keys) {
    const PackageParse parse = parsePackage(file);
    if (!parse.package) throw std::runtime_error("no valid tool package: " + parse.error);
    if (packageSpan(file).size() != file.size()) {
        throw std::runtime_error("the tool is code-signed: sign its package first, then code-sign it");
    }
    const std::span<const uint8_t> head = beforeTrailer(file);
    const SignatureSectionRead old = readSignatureSection(head);
    if (!old.error.empty()) throw std::runtime_error("the package's signature section is damaged: " + old.error);

    startSodium();
    SignatureSection section;
    section.signer = keys.publicKey;
    const std::vector<uint8_t> message = signedBytes(*parse.package);
    crypto_sign_detached(section.signature.data(), nullptr, message.data(), message.size(), keys.secret.data());

    std::vector<uint8_t> out(head.begin(), head.end() - static_cast<std::ptrdiff_t>(old.size));
    const std::vector<uint8_t> encoded = encodeSignatureSection(section);
    out.insert(out.end(), encoded.begin(), encoded.end());
    out.insert(out.end(), file.end() - kTrailerSize, file.end());
    // A package whose sections reach into the old section would read
    // otherwise now: check that the signed file holds what was signed.
    const PackageParse again = parsePackage(out);
    if (!again.package || readPackageSignature(out, again).state != SignatureState::Valid) {
        throw std::runtime_error("the package's sections reach into its signature section; rebuild it");
    }
    return out;
}

}  // namespace iap
