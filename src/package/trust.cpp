#include "package/trust.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "package/system_folder.h"

namespace iap {

namespace fs = std::filesystem;

bool TrustedKeys::trusts(const PublicKey& key) const {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

fs::path chooseTrustFolder(const fs::path& system, const fs::path& override) {
    std::error_code ec;
    if (override.empty() || fs::symlink_status(system, ec).type() != fs::file_type::not_found) return system;
    return override;
}

fs::path systemTrustFolder() {
    const fs::path system = systemConfigFolder() / "trusted-keys";
#ifdef _WIN32
    const wchar_t* override = _wgetenv(L"IAP_TRUSTED_KEYS_DIR");
#else
    const char* override = std::getenv("IAP_TRUSTED_KEYS_DIR");
#endif
    return chooseTrustFolder(system, override ? fs::path(override) : fs::path());
}

TrustedKeys loadTrustedKeys(const std::vector<fs::path>& given, const fs::path& folder) {
    std::vector<fs::path> files = given;
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (status.type() == fs::file_type::not_found) {
        // no folder: no keys from it
    } else if (ec) {
        throw std::runtime_error(folder.string() + ": cannot read the trust folder: " + ec.message());
    } else {
        if (!fs::is_directory(status)) throw std::runtime_error(folder.string() + ": trust folder is not a folder");
        std::vector<fs::path> found;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().extension() == ".pub") found.push_back(it->path());
        }
        if (ec) throw std::runtime_error(folder.string() + ": cannot read the trust folder: " + ec.message());
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    TrustedKeys trust;
    for (const fs::path& file : files) trust.keys.push_back(readPublicKeyFile(file));
    return trust;
}

TrustCheck checkTrust(const PackageSignature& signature, const TrustedKeys& trust) {
    switch (signature.state) {
        case SignatureState::Unsigned:
            return {TrustVerdict::Unsigned, "unsigned package: this station takes only packages signed by a trusted key"};
        case SignatureState::Broken:
            return {TrustVerdict::Changed, "package changed after signing: " + signature.detail};
        case SignatureState::Valid:
            break;
    }
    if (!trust.trusts(signature.signer)) {
        return {TrustVerdict::OtherKey,
                "package signed by another key: " + fingerprint(signature.signer) + " is not trusted on this station"};
    }
    return {};
}

}  // namespace iap
