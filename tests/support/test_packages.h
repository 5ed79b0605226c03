// Helpers for the package tests: images, complete packages, temporary folders.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "bytes/firmware_image.h"
#include "package/layout.h"
#include "package/package_format.h"
#include "raster/bmp.h"

namespace iap::test {

// A w x h 24-bit bitmap whose every pixel is (r, g, b).
inline std::vector<uint8_t> solidBmp(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 255);
    for (size_t i = 0; i < rgba.size(); i += 4) rgba[i] = r, rgba[i + 1] = g, rgba[i + 2] = b;
    return raster::encodeBmp(w, h, rgba, false);
}

// An executable of n bytes (a recognisable pattern, no package); also a payload.
inline std::vector<uint8_t> fakeExecutable(size_t n) {
    std::vector<uint8_t> exe(n);
    for (size_t i = 0; i < n; ++i) exe[i] = static_cast<uint8_t>(0x7F ^ (i * 13));
    return exe;
}

// A firmware image of 128 + payloadSize bytes with the given block size.
inline std::vector<uint8_t> testFirmware(size_t payloadSize, uint16_t blockSize = 256) {
    ImageHeaderFields fields;
    fields.blockSize = blockSize;
    return buildFirmwareImage(fields, fakeExecutable(payloadSize));
}

// 3 device IDs, the ten default colours, images 0..18 as 2 x 2 bitmaps whose
// red channel is the image id, a 1000-byte payload.
inline Package testPackage() {
    Package p;
    p.firmware = testFirmware(1000);
    p.deviceIds = {{0x01, 0x5750, 0x0483}, {0x01, 0x5751, 0x0483}, {0x01, 0x5752, 0x0483}};
    p.colours = defaultColours();
    for (uint32_t id = 0; id < 19; ++id) p.images.push_back({id, solidBmp(2, 2, uint8_t(id), 0x20, 0x30)});
    return p;
}

// exe followed by the encoded package (whose sections lie as *layout says).
inline std::vector<uint8_t> withPackage(std::vector<uint8_t> exe, const Package& package,
                                        PackageLayout* layout = nullptr) {
    const std::vector<uint8_t> bytes = encodePackage(package, exe.size(), layout);
    exe.insert(exe.end(), bytes.begin(), bytes.end());
    return exe;
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

inline std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh folder, removed with its content at the end of the scope.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "iap-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace iap::test
