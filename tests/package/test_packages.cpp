#include "test_packages.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "bmp.h"
#include "package/firmware_image.h"
#include "package/layout.h"

namespace iap::test {

namespace fs = std::filesystem;

std::vector<uint8_t> solidBmp(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgba;
    for (int i = 0; i < w * h; ++i) rgba.insert(rgba.end(), {r, g, b, 255});
    return skin::encodeBmp(w, h, rgba, false);
}

std::vector<uint8_t> testFirmware(size_t payloadSize, uint16_t blockSize) {
    std::vector<uint8_t> payload(payloadSize);
    for (size_t i = 0; i < payloadSize; ++i) payload[i] = static_cast<uint8_t>(i * 7 + 3);
    ImageHeaderFields fields;
    fields.blockSize = blockSize;
    return buildFirmwareImage(fields, payload);
}

Package testPackage() {
    Package p;
    p.firmware = testFirmware(1000);
    p.deviceIds = {{0x01, 0x5750, 0x0483}, {0x01, 0x5751, 0x0483}, {0x01, 0x5752, 0x0483}};
    p.colours = defaultColours();
    for (uint32_t id = 0; id < 19; ++id) p.images.push_back({id, solidBmp(2, 2, uint8_t(id), 0x20, 0x30)});
    return p;
}

std::vector<uint8_t> fakeExecutable(size_t n) {
    std::vector<uint8_t> exe(n);
    for (size_t i = 0; i < n; ++i) exe[i] = static_cast<uint8_t>(0x7F ^ (i * 13));
    return exe;
}

std::vector<uint8_t> withPackage(const std::vector<uint8_t>& exe, const Package& package) {
    std::vector<uint8_t> file = exe;
    const std::vector<uint8_t> bytes = encodePackage(package, exe.size());
    file.insert(file.end(), bytes.begin(), bytes.end());
    return file;
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (fs::path(base && *base ? base : "/tmp") / "iap-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace iap::test
