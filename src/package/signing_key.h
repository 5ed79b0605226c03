// Ed25519 signing keys (libsodium) and their files. A key pair NAME is two
// one-line text files: NAME.key ("iap-ed25519-secret" and the 32-byte seed
// in hexadecimal), readable by its owner only, and NAME.pub
// ("iap-ed25519-public" and the public key in hexadecimal).
#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "package/signature_section.h"

namespace iap {

struct KeyPair {
    PublicKey publicKey{};
    std::array<uint8_t, 64> secret{};  // libsodium's secret key: seed and public key
    KeyPair() = default;
    KeyPair(const KeyPair&) = default;
    KeyPair& operator=(const KeyPair&) = default;
    ~KeyPair();  // wipes the secret
};

// Throws std::runtime_error when libsodium cannot start.
void startSodium();

KeyPair generateKeyPair();

// 32 lower-case hexadecimal digits: the first 16 bytes of the key's SHA-256.
std::string fingerprint(const PublicKey& key);

// NAME.key and NAME.pub for NAME (the name as given, with the suffix added).
std::filesystem::path secretKeyPath(const std::filesystem::path& name);
std::filesystem::path publicKeyPath(const std::filesystem::path& name);

// Writes NAME.key (owner-only: mode 0600 on POSIX, a protected DACL that
// grants the current user alone on Windows) and NAME.pub. Refuses, with
// nothing written, when either file exists: a key is never overwritten.
// Throws std::runtime_error naming the file.
void writeKeyPair(const std::filesystem::path& name, const KeyPair& keys);

// Read a key file; throw std::runtime_error naming the file and saying what
// is wrong with it (for instance a secret key given where a public one is
// expected).
KeyPair readSecretKeyFile(const std::filesystem::path& path);
PublicKey readPublicKeyFile(const std::filesystem::path& path);

// Creates path, which must not exist, with bytes; ownerOnly restricts who
// may read it. Throws std::runtime_error naming the file (platform files
// new_file_posix.cpp, new_file_win32.cpp).
void writeNewFile(const std::filesystem::path& path, const std::string& bytes, bool ownerOnly);

}  // namespace iap
