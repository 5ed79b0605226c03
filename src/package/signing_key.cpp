#include "package/signing_key.h"

#include <sodium.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "package/whole_file.h"

namespace iap {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSecretTag = "iap-ed25519-secret ";
constexpr const char* kPublicTag = "iap-ed25519-public ";

std::string hex(const uint8_t* data, size_t size) {
    std::string text(size * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), data, size);
    text.pop_back();
    return text;
}

// The 32 bytes after tag in a key file's text, or nothing when the text is
// not of that form (trailing white space and CR LF line ends allowed).
std::optional<std::array<uint8_t, 32>> keyBytes(std::string text, const std::string& tag) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
        text.pop_back();
    }
    if (text.size() != tag.size() + 64 || text.compare(0, tag.size(), tag) != 0) return std::nullopt;
    std::array<uint8_t, 32> bytes{};
    size_t length = 0;
    const char* end = nullptr;
    if (sodium_hex2bin(bytes.data(), bytes.size(), text.data() + tag.size(), 64, nullptr, &length, &end) != 0 ||
        length != bytes.size()) {
        return std::nullopt;
    }
    return bytes;
}

std::string readKeyText(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status)) {
        throw std::runtime_error(path.string() + ": not a regular file");  // a FIFO would block the read
    }
    if (fs::is_regular_file(status) && fs::file_size(path, ec) > 4096) {
        throw std::runtime_error(path.string() + ": too large for a key file");
    }
    std::vector<uint8_t> bytes = readWholeFile(path);
    std::string text(bytes.begin(), bytes.end());
    sodium_memzero(bytes.data(), bytes.size());  // it may hold a secret key
    return text;
}

std::runtime_error keyFileError(const fs::path& path, const std::string& text, bool wantSecret) {
    const char* other = wantSecret ? kPublicTag : kSecretTag;
    if (text.rfind(other, 0) == 0) {
        return std::runtime_error(path.string() + (wantSecret ? ": holds a public key; give the .key file"
                                                              : ": holds a secret key; give the .pub file"));
    }
    return std::runtime_error(path.string() + ": not a " + (wantSecret ? "secret" : "public") +
                              " key file of usb-iap-pack keygen");
}

}  // namespace

KeyPair::~KeyPair() { sodium_memzero(secret.data(), secret.size()); }

void startSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

KeyPair generateKeyPair() {
    startSodium();
    KeyPair keys;
    crypto_sign_keypair(keys.publicKey.data(), keys.secret.data());
    return keys;
}

std::string fingerprint(const PublicKey& key) {
    startSodium();
    std::array<uint8_t, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), key.data(), key.size());
    return hex(digest.data(), 16);
}

fs::path secretKeyPath(const fs::path& name) { return fs::path(name.native() + fs::path(".key").native()); }
fs::path publicKeyPath(const fs::path& name) { return fs::path(name.native() + fs::path(".pub").native()); }

void writeKeyPair(const fs::path& name, const KeyPair& keys) {
    const fs::path secretPath = secretKeyPath(name), publicPath = publicKeyPath(name);
    for (const fs::path& p : {secretPath, publicPath}) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(p, ec))) {
            throw std::runtime_error(p.string() + ": already exists; a key is never overwritten");
        }
    }
    std::string secretText = kSecretTag + hex(keys.secret.data(), crypto_sign_SEEDBYTES) + "\n";
    try {
        writeNewFile(secretPath, secretText, true);
    } catch (...) {
        sodium_memzero(secretText.data(), secretText.size());
        throw;
    }
    sodium_memzero(secretText.data(), secretText.size());
    try {
        writeNewFile(publicPath, kPublicTag + hex(keys.publicKey.data(), keys.publicKey.size()) + "\n", false);
    } catch (...) {
        std::error_code ec;
        fs::remove(secretPath, ec);  // half a pair is of no use
        throw;
    }
}

KeyPair readSecretKeyFile(const fs::path& path) {
    startSodium();
    std::string text = readKeyText(path);
    const std::optional<std::array<uint8_t, 32>> seed = keyBytes(text, kSecretTag);
    if (!seed) throw keyFileError(path, text, true);
    sodium_memzero(text.data(), text.size());
    KeyPair keys;
    crypto_sign_seed_keypair(keys.publicKey.data(), keys.secret.data(), seed->data());
    return keys;
}

PublicKey readPublicKeyFile(const fs::path& path) {
    const std::string text = readKeyText(path);
    const std::optional<std::array<uint8_t, 32>> key = keyBytes(text, kPublicTag);
    if (!key) throw keyFileError(path, text, false);
    return *key;
}

}  // namespace iap
