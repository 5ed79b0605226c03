// Helpers for the package tests: small images, complete test packages and
// temporary folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "package/package_format.h"

namespace iap::test {

// A w x h bitmap whose every pixel is (r, g, b) (24-bit), or with alpha a
// (32-bit).
std::vector<uint8_t> solidBmp(int w, int h, uint8_t r, uint8_t g, uint8_t b);
std::vector<uint8_t> solidBmpWithAlpha(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

// A firmware image of 128 + payloadSize bytes with the given block size.
std::vector<uint8_t> testFirmware(size_t payloadSize, uint16_t blockSize = 256);

// A complete package: 3 device IDs, ten default colours, images 0..18 as
// 2 x 2 bitmaps whose red channel is the image id, a 1000-byte payload.
Package testPackage();

// An executable of n bytes (a recognisable pattern, no package).
std::vector<uint8_t> fakeExecutable(size_t n);

// exe followed by the encoded package.
std::vector<uint8_t> withPackage(const std::vector<uint8_t>& exe, const Package& package);

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);

// A fresh folder, removed with its content at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Changes the working directory for the scope.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir);
    ~ScopedCwd();

private:
    std::filesystem::path previous_;
};

}  // namespace iap::test
