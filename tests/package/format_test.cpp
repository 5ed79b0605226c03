// The package byte layout: what is written, what is read back, and what a
// damaged package does to the reader.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "bytes/byte_order.h"
#include "package/layout.h"
#include "package/package_format.h"
#include "support/test_packages.h"

namespace iap {
namespace {

using test::testPackage;
constexpr size_t kExeSize = 1000;

std::vector<uint8_t> encoded(const Package& package = testPackage(), PackageLayout* layout = nullptr) {
    return test::withPackage(test::fakeExecutable(kExeSize), package, layout);
}

TEST(PackageFormat, RoundTripWithSectionsBackToBackAfterTheExecutable) {
    Package in = testPackage();
    in.settings = {7, 2000, 0x12345, 9000, 4000};
    in.colours[3] = {0.1f, 0.2f, 0.3f, 0.4f};
    std::swap(in.images[0], in.images[18]);              // ids in any order,
    in.images.push_back({3, test::solidBmp(1, 1, 9, 9, 9)});  // and one twice
    PackageLayout at;
    const std::vector<uint8_t> f = encoded(in, &at);
    // Trailer: header offset N, then the magic as AC 6A 2C 5F; the executable untouched.
    EXPECT_EQ(std::vector<uint8_t>(f.end() - 8, f.end()),
              (std::vector<uint8_t>{0xE8, 0x03, 0, 0, 0xAC, 0x6A, 0x2C, 0x5F}));
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + kExeSize), test::fakeExecutable(kExeSize));
    EXPECT_EQ(at.headerOffset, kExeSize);
    EXPECT_EQ(at.firmwareOffset, kExeSize + 52);
    EXPECT_EQ(at.deviceIdOffset, at.firmwareOffset + in.firmware.size());
    EXPECT_EQ(at.colourOffset, at.deviceIdOffset + 15);  // three IDs, no alignment gap
    EXPECT_EQ(at.imageTableOffset, at.colourOffset + 10 * 16);
    EXPECT_EQ(at.imageFileOffsets[0], at.imageTableOffset + 20 * 12);
    EXPECT_EQ(at.imageFileOffsets[19] + in.images[19].file.size(), at.trailerOffset);
    EXPECT_EQ(at.trailerOffset + 8, f.size());
    // Device ID entry: VID, PID little-endian, then the report ID.
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + at.deviceIdOffset, f.begin() + at.deviceIdOffset + 5),
              (std::vector<uint8_t>{0x83, 0x04, 0x50, 0x57, 0x01}));
    // Read back, every field (images in table order) encodes to the same bytes.
    const PackageParse out = parsePackage(f);
    ASSERT_TRUE(out.package) << out.error;
    EXPECT_EQ(encodePackage(*out.package, kExeSize), std::vector<uint8_t>(f.begin() + kExeSize, f.end()));
    EXPECT_EQ(out.package->images[19].id, 3u);
}

TEST(PackageFormat, NoMagicOrNoRoomIsNoPackage) {
    std::vector<uint8_t> f = encoded();
    for (size_t n = 0; n < 8; ++n) {
        EXPECT_FALSE(parsePackage(std::vector<uint8_t>(f.end() - long(n), f.end())).package) << n;
    }
    std::vector<uint8_t> trailer(f.end() - 8, f.end());  // alone: no room for a header
    for (uint32_t offset : {0u, 8u, 1000u, 0xFFFFFFFFu}) {
        storeU32(trailer.data(), offset);
        EXPECT_FALSE(parsePackage(trailer).package);
        EXPECT_TRUE(parsePackage(trailer).hasMagic);
    }
    f.back() ^= 0x01;
    EXPECT_FALSE(parsePackage(f).hasMagic);
}

TEST(PackageFormat, APackageCutAnywhereIsRefused) {
    PackageLayout at;
    const std::vector<uint8_t> f = encoded(testPackage(), &at);
    const std::vector<uint8_t> trailer(f.end() - 8, f.end());
    // Cut at every byte before the trailer and put the trailer back.
    for (size_t cut = 0; cut < at.trailerOffset; ++cut) {
        std::vector<uint8_t> cutFile(f.begin(), f.begin() + long(cut));
        cutFile.insert(cutFile.end(), trailer.begin(), trailer.end());
        ASSERT_FALSE(parsePackage(cutFile).package) << "cut at " << cut;
    }
}

TEST(PackageFormat, OffsetsAndCountsPastTheEndAreRefused) {
    using namespace package_header;
    PackageLayout at;
    const std::vector<uint8_t> good = encoded(testPackage(), &at);
    const uint32_t size = static_cast<uint32_t>(good.size()), T = size - 8;  // trailer
    const size_t H = kExeSize, E = at.imageTableOffset + 5 * 12;           // header, image entry 5
    const std::pair<size_t, uint32_t> cases[] = {  // where, what
        {H + kFirmwareOffset, size}, {H + kFirmwareOffset, 0xFFFFFFF0u}, {H + kFirmwareSize, size},
        {H + kFirmwareSize, ~0u}, {H + kDeviceIdCount, size / 5}, {H + kDeviceIdCount, 0x33333334u},  // 5n wraps
        {H + kDeviceIdOffset, T}, {H + kDeviceIdOffset, ~0u}, {H + kColourCount, size / 16},
        {H + kColourCount, 0x10000001u}, {H + kColourOffset, T - 1}, {H + kImageCount, size / 12},      // 16n wraps
        {H + kImageCount, 0x15555556u}, {H + kImageOffset, T}, {H + kImageOffset, 0xFFFFFFF4u},
        {E + 4, size}, {E + 4, ~0u}, {E + 4, 0x80000000u}, {E + 8, size}, {E + 8, ~0u}, {E + 8, 0x80000000u},
        {T, T - 51}, {T, T}, {T, size}, {T, ~0u},  // header offsets without room for the header
    };
    for (const auto& [where, what] : cases) {
        std::vector<uint8_t> f = good;
        storeU32(f.data() + where, what);
        EXPECT_FALSE(parsePackage(f).package) << "at " << where << " = " << what;
    }
    // Every image entry naming one large image: together more than the file.
    Package p = testPackage();
    p.images[0].file = test::solidBmp(100, 100, 1, 2, 3);
    std::vector<uint8_t> f = encoded(p, &at);
    for (int i = 1; i < 19; ++i) std::memcpy(&f[at.imageTableOffset + 12 * i + 4], &f[at.imageTableOffset + 4], 8);
    EXPECT_FALSE(parsePackage(f).package);
}

TEST(PackageFormat, ContentTheToolCannotUseIsRefused) {
    auto firmware = [](std::vector<uint8_t> image) { return [image](Package& p) { p.firmware = image; }; };
    auto blockSize = [](uint16_t size) { return [size](Package& p) { storeU16(&p.firmware[66], size); }; };
    std::vector<uint8_t> headerOnly = test::testFirmware(1);
    headerOnly.resize(128);
    const struct { const char* what; std::function<void(Package&)> change; bool accepted; } cases[] = {
        {"image 18 missing", [](Package& p) { p.images.pop_back(); }, false},
        {"19 entries, no id 4", [](Package& p) { p.images[4].id = 40; }, false},
        {"6 colours", [](Package& p) { p.colours.resize(6); }, false},
        {"7 colours", [](Package& p) { p.colours.resize(7); }, true},
        {"no firmware", firmware({}), false},
        {"header only", firmware(headerOnly), false},
        {"block size 0", blockSize(0), false},
        {"block size 8193", blockSize(8193), false},
        {"block size 8192", blockSize(8192), true},
        {"65535 blocks", firmware(test::testFirmware(65535, 1)), true},
        {"65536 blocks", [](Package& p) { p.firmware = test::testFirmware(65535, 1); p.firmware.push_back(0); }, false},
        // Time-outs are read as signed milliseconds: a negative one would wait forever.
        {"readAckTimeout 4294967295", [](Package& p) { p.settings.readAckTimeout = 0xFFFFFFFFu; }, false},
        {"searchDeviceTimeout 2^31", [](Package& p) { p.settings.searchDeviceTimeout = 0x80000000u; }, false},
        {"readAckTimeout 2^31 - 1", [](Package& p) { p.settings.readAckTimeout = 0x7FFFFFFFu; }, true},
        {"retryNum 0, search 0", [](Package& p) { p.settings.retryNum = p.settings.searchDeviceTimeout = 0; }, true},
        {"retryNum, delays 2^32 - 1", [](Package& p) { p.settings.retryNum = p.settings.rebootDelay = p.settings.switchDelay = ~0u; }, true},
    };
    for (const auto& c : cases) {
        Package p = testPackage();
        c.change(p);
        const PackageParse r = parsePackage(encoded(p));
        EXPECT_EQ(r.package.has_value(), c.accepted) << c.what << ": " << r.error;
        EXPECT_EQ(r.error.empty(), c.accepted) << c.what;
    }
}

}  // namespace
}  // namespace iap
