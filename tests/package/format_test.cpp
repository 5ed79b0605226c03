// The package byte layout: what is written, what is read back, and what a
// damaged package does to the reader.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "package/byte_order.h"
#include "package/firmware_image.h"
#include "package/layout.h"
#include "package/package_format.h"
#include "test_packages.h"

namespace iap {
namespace {

using test::fakeExecutable;
using test::testPackage;
using test::withPackage;

constexpr size_t kExeSize = 1000;

struct Encoded {
    std::vector<uint8_t> file;
    PackageLayout layout;
};

Encoded encoded(const Package& package = testPackage()) {
    Encoded e;
    e.file = fakeExecutable(kExeSize);
    const std::vector<uint8_t> bytes = encodePackage(package, kExeSize, &e.layout);
    e.file.insert(e.file.end(), bytes.begin(), bytes.end());
    return e;
}

void setHeaderWord(std::vector<uint8_t>& file, size_t field, uint32_t value) {
    const uint32_t header = loadU32(file.data() + file.size() - kTrailerSize);
    storeU32(file.data() + header + field, value);
}

TEST(PackageFormat, RoundTripKeepsEveryField) {
    Package in = testPackage();
    in.settings = {7, 2000, 0x12345, 9000, 4000};
    in.colours[3] = {0.1f, 0.2f, 0.3f, 0.4f};
    const PackageParse out = parsePackage(encoded(in).file);
    ASSERT_TRUE(out.package) << out.error;
    const Package& p = *out.package;
    EXPECT_EQ(p.settings.retryNum, 7u);
    EXPECT_EQ(p.settings.rebootDelay, 2000u);
    EXPECT_EQ(p.settings.switchDelay, 0x12345u);
    EXPECT_EQ(p.settings.searchDeviceTimeout, 9000u);
    EXPECT_EQ(p.settings.readAckTimeout, 4000u);
    EXPECT_EQ(p.firmware, in.firmware);
    ASSERT_EQ(p.deviceIds.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(p.deviceIds[i].vendorId, in.deviceIds[i].vendorId);
        EXPECT_EQ(p.deviceIds[i].productId, in.deviceIds[i].productId);
        EXPECT_EQ(p.deviceIds[i].reportId, in.deviceIds[i].reportId);
    }
    ASSERT_EQ(p.colours.size(), in.colours.size());
    EXPECT_EQ(0, std::memcmp(p.colours.data(), in.colours.data(), in.colours.size() * sizeof(Colour)));
    ASSERT_EQ(p.images.size(), 19u);
    for (size_t i = 0; i < 19; ++i) {
        EXPECT_EQ(p.images[i].id, in.images[i].id);
        EXPECT_EQ(p.images[i].file, in.images[i].file);
    }
}

TEST(PackageFormat, SectionsLieBackToBackAfterTheExecutable) {
    const Encoded e = encoded();
    const std::vector<uint8_t>& f = e.file;
    const Package p = testPackage();
    // Trailer: header offset N, then the magic as AC 6A 2C 5F.
    EXPECT_EQ(loadU32(f.data() + f.size() - 8), kExeSize);
    EXPECT_EQ(std::vector<uint8_t>(f.end() - 4, f.end()), (std::vector<uint8_t>{0xAC, 0x6A, 0x2C, 0x5F}));
    EXPECT_EQ(e.layout.headerOffset, kExeSize);
    EXPECT_EQ(e.layout.firmwareOffset, kExeSize + 52);
    EXPECT_EQ(e.layout.deviceIdOffset, e.layout.firmwareOffset + p.firmware.size());
    // Three device IDs are exactly 15 bytes; the colours follow with no gap.
    EXPECT_EQ(e.layout.colourOffset, e.layout.deviceIdOffset + 15);
    EXPECT_EQ(e.layout.imageTableOffset, e.layout.colourOffset + 10 * 16);
    EXPECT_EQ(e.layout.imageFileOffsets[0], e.layout.imageTableOffset + 19 * 12);
    EXPECT_EQ(e.layout.imageFileOffsets[18] + p.images[18].file.size(), e.layout.trailerOffset);
    EXPECT_EQ(e.layout.trailerOffset + 8, f.size());
    // Device ID entry: VID, PID little-endian, then the report ID.
    const uint8_t* id = f.data() + e.layout.deviceIdOffset;
    EXPECT_EQ(std::vector<uint8_t>(id, id + 5), (std::vector<uint8_t>{0x83, 0x04, 0x50, 0x57, 0x01}));
    // The executable itself is untouched.
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + kExeSize), fakeExecutable(kExeSize));
}

TEST(PackageFormat, WithoutTheMagicThereIsNoPackage) {
    std::vector<uint8_t> f = encoded().file;
    f.back() ^= 0x01;
    PackageParse r = parsePackage(f);
    EXPECT_FALSE(r.package);
    EXPECT_FALSE(r.hasMagic);
    EXPECT_FALSE(parsePackage(fakeExecutable(5000)).package);
}

TEST(PackageFormat, FilesTooShortForAPackageAreRefused) {
    const std::vector<uint8_t> full = encoded().file;
    for (size_t n = 0; n < 8; ++n) {
        const std::vector<uint8_t> f(full.end() - static_cast<std::ptrdiff_t>(n), full.end());
        EXPECT_FALSE(parsePackage(f).package) << n << " bytes";
    }
    // The trailer alone: its header offset cannot hold a header.
    std::vector<uint8_t> trailer(full.end() - 8, full.end());
    for (uint32_t offset : {0u, 8u, 1000u, 0xFFFFFFFFu}) {
        storeU32(trailer.data(), offset);
        const PackageParse r = parsePackage(trailer);
        EXPECT_FALSE(r.package);
        EXPECT_TRUE(r.hasMagic);
    }
}

TEST(PackageFormat, APackageCutAnywhereIsRefused) {
    const Encoded e = encoded();
    const std::vector<uint8_t> trailer(e.file.end() - 8, e.file.end());
    // Cut the package at every byte before its trailer and put the trailer back.
    for (size_t cut = 0; cut < e.layout.trailerOffset; ++cut) {
        std::vector<uint8_t> f(e.file.begin(), e.file.begin() + static_cast<std::ptrdiff_t>(cut));
        f.insert(f.end(), trailer.begin(), trailer.end());
        ASSERT_FALSE(parsePackage(f).package) << "cut at " << cut;
    }
    // Cut without the trailer: no magic any more.
    for (size_t cut : {size_t{e.layout.headerOffset}, size_t{e.layout.colourOffset},
                       size_t{e.layout.trailerOffset}, e.file.size() - 1}) {
        std::vector<uint8_t> f(e.file.begin(), e.file.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(parsePackage(f).package) << "cut at " << cut;
    }
}

TEST(PackageFormat, OffsetsAndCountsPastTheEndAreRefused) {
    namespace h = package_header;
    const Encoded e = encoded();
    const uint32_t size = static_cast<uint32_t>(e.file.size());
    struct Case {
        size_t field;
        uint32_t value;
    };
    const Case cases[] = {
        {h::kFirmwareOffset, size},         {h::kFirmwareOffset, 0xFFFFFFF0u},
        {h::kFirmwareSize, size},           {h::kFirmwareSize, 0xFFFFFFFFu},
        {h::kDeviceIdCount, size / 5},      {h::kDeviceIdCount, 0x33333334u},  // 5 x n wraps 32 bits
        {h::kDeviceIdOffset, size - 8},     {h::kDeviceIdOffset, 0xFFFFFFFFu},
        {h::kColourCount, size / 16},       {h::kColourCount, 0x10000001u},    // 16 x n wraps 32 bits
        {h::kColourOffset, size - 9},       {h::kImageCount, size / 12},
        {h::kImageCount, 0x15555556u},      {h::kImageOffset, size - 8},
        {h::kImageOffset, 0xFFFFFFF4u},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> f = e.file;
        setHeaderWord(f, c.field, c.value);
        EXPECT_FALSE(parsePackage(f).package) << "field " << c.field << " = " << c.value;
    }
    // Image entries pointing outside the file.
    for (size_t field : {4u, 8u}) {
        for (uint32_t value : {size, 0xFFFFFFFFu, 0x80000000u}) {
            std::vector<uint8_t> f = e.file;
            storeU32(f.data() + e.layout.imageTableOffset + 5 * 12 + field, value);
            EXPECT_FALSE(parsePackage(f).package) << "image entry field " << field;
        }
    }
    // A header offset that leaves fewer than 52 bytes before the trailer.
    for (uint32_t offset : {size - 8 - 51, size - 8, size, 0xFFFFFFFFu}) {
        std::vector<uint8_t> f = e.file;
        storeU32(f.data() + size - 8, offset);
        EXPECT_FALSE(parsePackage(f).package) << "header offset " << offset;
    }
}

TEST(PackageFormat, ImagesThatTogetherOutgrowTheFileAreRefused) {
    // Many entries naming the same large image would make the reader copy far
    // more than the file holds.
    Package p = testPackage();
    p.images[0].file = test::solidBmp(100, 100, 1, 2, 3);
    std::vector<uint8_t> f = encoded(p).file;
    const uint32_t header = loadU32(f.data() + f.size() - 8);
    const uint32_t table = loadU32(f.data() + header + package_header::kImageOffset);
    for (int i = 1; i < 19; ++i) {
        std::memcpy(f.data() + table + 12 * i + 4, f.data() + table + 4, 8);  // size, offset of image 0
    }
    EXPECT_FALSE(parsePackage(f).package);
}

TEST(PackageFormat, MissingImagesOrTooFewColoursAreRefused) {
    Package p = testPackage();
    p.images.pop_back();  // id 18 gone
    PackageParse r = parsePackage(encoded(p).file);
    EXPECT_FALSE(r.package);
    EXPECT_NE(r.error.find("image 18"), std::string::npos) << r.error;

    p = testPackage();
    p.images[4].id = 40;  // 19 entries, but no id 4
    EXPECT_FALSE(parsePackage(encoded(p).file).package);

    p = testPackage();
    p.colours.resize(6);
    EXPECT_FALSE(parsePackage(encoded(p).file).package);
    p.colours.resize(7);
    EXPECT_TRUE(parsePackage(encoded(p).file).package);
}

TEST(PackageFormat, ImagesMayComeInAnyOrderAndRepeat) {
    Package p = testPackage();
    std::swap(p.images[0], p.images[18]);
    p.images.push_back({3, test::solidBmp(1, 1, 9, 9, 9)});
    const PackageParse r = parsePackage(encoded(p).file);
    ASSERT_TRUE(r.package) << r.error;
    ASSERT_EQ(r.package->images.size(), 20u);
    EXPECT_EQ(r.package->images[0].id, 18u);
    EXPECT_EQ(r.package->images[19].id, 3u);
}

TEST(PackageFormat, FirmwareTheEngineCannotTakeIsRefused) {
    auto accepts = [](std::vector<uint8_t> firmware) {
        Package p = testPackage();
        p.firmware = std::move(firmware);
        return parsePackage(encoded(p).file).package.has_value();
    };
    std::vector<uint8_t> headerOnly = test::testFirmware(1);
    headerOnly.resize(128);
    EXPECT_FALSE(accepts(headerOnly));
    EXPECT_FALSE(accepts({}));
    std::vector<uint8_t> image = test::testFirmware(300);
    storeU16(image.data() + 66, 0);
    EXPECT_FALSE(accepts(image));
    storeU16(image.data() + 66, 8193);
    EXPECT_FALSE(accepts(image));
    storeU16(image.data() + 66, 8192);
    EXPECT_TRUE(accepts(image));
    // 65535 blocks of one byte are fine, 65536 are not.
    std::vector<uint8_t> many = test::testFirmware(65535, 1);
    EXPECT_TRUE(accepts(many));
    many.push_back(0);
    EXPECT_FALSE(accepts(many));
}

}  // namespace
}  // namespace iap
