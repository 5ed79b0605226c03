// Helpers for the package tests: images, complete packages, temporary folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "package/package_format.h"

namespace iap::test {

// A w x h 24-bit bitmap whose every pixel is (r, g, b).
std::vector<uint8_t> solidBmp(int w, int h, uint8_t r, uint8_t g, uint8_t b);
// A firmware image of 128 + payloadSize bytes with the given block size.
std::vector<uint8_t> testFirmware(size_t payloadSize, uint16_t blockSize = 256);
// 3 device IDs, the ten default colours, images 0..18 as 2 x 2 bitmaps whose
// red channel is the image id, a 1000-byte payload.
Package testPackage();
// An executable of n bytes (a recognisable pattern, no package).
std::vector<uint8_t> fakeExecutable(size_t n);
// exe followed by the encoded package.
std::vector<uint8_t> withPackage(const std::vector<uint8_t>& exe, const Package& package);

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::filesystem::path& path);

// A fresh folder, removed with its content at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace iap::test
