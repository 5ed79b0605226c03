// Which signers a station trusts: the keys given to it and the public key
// files (*.pub) in the system trust folder. With no key at all, trust is
// not configured and packages load as they always did.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "package/package_signature.h"

namespace iap {

struct TrustedKeys {
    std::vector<PublicKey> keys;
    bool configured() const { return !keys.empty(); }
    bool trusts(const PublicKey& key) const;
};

// /etc/usb-iap-tools/trusted-keys on Linux, %ProgramData%\USB IAP
// tool\trusted-keys on Windows. Where that folder does not exist, the
// environment variable IAP_TRUSTED_KEYS_DIR may name another (tests, trying
// trust out); on a station with a trust folder it changes nothing, so that
// no one bypasses the station's trust by setting a variable.
std::filesystem::path systemTrustFolder();

// The rule of systemTrustFolder: system when it exists or override is
// empty, else override.
std::filesystem::path chooseTrustFolder(const std::filesystem::path& system, const std::filesystem::path& override);

// The keys of the given .pub files and of every *.pub file in folder (a
// folder that does not exist adds none). Throws std::runtime_error naming
// the file when one cannot be read or is not a public key: a station never
// runs with less trust than it was given.
TrustedKeys loadTrustedKeys(const std::vector<std::filesystem::path>& given, const std::filesystem::path& folder);

enum class TrustVerdict { Accepted, Unsigned, OtherKey, Changed };

struct TrustCheck {
    TrustVerdict verdict = TrustVerdict::Accepted;
    std::string text;  // why it is refused, empty when accepted
};

// A package's signature judged against configured trust.
TrustCheck checkTrust(const PackageSignature& signature, const TrustedKeys& trust);

}  // namespace iap
