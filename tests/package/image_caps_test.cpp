// What decoding package images may cost: image bombs are refused before they
// cost memory or time, whatever decodes within the caps still decodes.
#include <gtest/gtest.h>

#include <cstring>

#include "bytes/byte_order.h"
#include "package/image_decode.h"
#include "package/package_loader.h"
#include "raster/png.h"
#include "support/test_packages.h"

namespace iap {
namespace {

using Bytes = std::vector<uint8_t>;

// A PNG that says 1 x 1 pixel and inflates to `bytes` zeros.
Bytes zlibBomb(size_t bytes) { return raster::encodePngRows(1, 1, Bytes(bytes, 0)); }
// A plain w x h PNG of transparent black.
Bytes blankPng(int w, int h) { return raster::encodePng(w, h, Bytes(size_t(w) * size_t(h) * 4, 0)); }
// A PNG that says w x h and holds almost nothing: only its declared size counts.
Bytes declaredPng(int w, int h) { return raster::encodePngRows(w, h, Bytes(16, 0)); }

TEST(ImageDecode, OurPngsDecodeAndTheOneImageCapsHold) {
    Bytes rgba;
    for (int i = 0; i < 7 * 3; ++i) rgba.insert(rgba.end(), {uint8_t(i), uint8_t(255 - i), 7, uint8_t(i * 12)});
    const DecodedImage small = decodeImage(raster::encodePng(7, 3, rgba));
    EXPECT_EQ(small.width, 7);
    EXPECT_EQ(small.rgba, rgba);

    const Bytes bomb = zlibBomb(32u << 20);  // 32 MiB of zeros for one pixel
    EXPECT_LT(bomb.size(), 1u << 20);
    EXPECT_THROW(decodeImage(bomb), std::runtime_error);
    EXPECT_THROW(decodeImage(declaredPng(2049, 2048)), std::runtime_error);
    // The same file cut short, or not an image at all.
    const Bytes png = blankPng(16, 16);
    EXPECT_THROW(decodeImage(std::span(png).first(png.size() / 2)), std::runtime_error);
    EXPECT_THROW(decodeImage(Bytes{'B', 'M', 0, 0}), std::runtime_error);
}

// Loads the package and tells whether it loaded, and how many textures were
// asked for (decoded images).
struct Loaded {
    bool loaded;
    int textures;
    std::string reason;
};
Loaded load(const Bytes& file) {
    test::TempDir dir;
    AppState state;
    state.executablePath = dir / "tool";
    test::writeBytes(state.executablePath, file);
    int made = 0;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const bool loaded = LoadPackage(state, [&](DecodedImage&& image) {
        ++made;
        return std::make_shared<ITexture>(1, float(image.width), float(image.height));
    });
    const std::string reason = ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStdout();
    return {loaded, made, reason};
}

TEST(ImageDecode, APackageMayNotAskForMorePixelsThanAnySkinNeeds) {
    const Bytes exe = test::fakeExecutable(1000);
    auto withImages = [&](std::vector<Bytes> files) {
        Package p = test::testPackage();
        for (Bytes& file : files) p.images.push_back({0, std::move(file)});
        return test::withPackage(exe, p);
    };
    // Many entries naming one small file that decodes to 16 MiB: the table is
    // patched so that every extra entry points at the first one's file. A
    // large firmware makes the file larger than all the entries' sizes
    // together, so that only the decode cost can refuse it.
    Package many = test::testPackage();
    many.firmware = test::testFirmware(8u << 20, 4096);
    many.images.push_back({0, blankPng(2048, 2048)});
    for (int i = 0; i < 60; ++i) many.images.push_back({0, test::solidBmp(1, 1, 0, 0, 0)});
    PackageLayout at;
    Bytes bomb = test::withPackage(exe, many, &at);
    for (size_t i = 20; i < many.images.size(); ++i) {
        std::memcpy(&bomb[at.imageTableOffset + 12 * i + 4], &bomb[at.imageTableOffset + 12 * 19 + 4], 8);
    }

    const struct {
        const char* what;
        Bytes file;
        bool loads;
        int textures;
        const char* reason;
    } cases[] = {
        {"one image of 2048 x 2048 (the largest)", withImages({blankPng(2048, 2048)}), true, 20, ""},
        {"two of them", withImages({declaredPng(2048, 2048), declaredPng(2048, 2048)}), false, 0, "the images together are more than"},
        {"one of 4096 x 4096", withImages({declaredPng(4096, 4096)}), false, 0, "image 0 is 4096x4096 pixels"},
        {"60 entries on one 16 MiB image", bomb, false, 0, "the images together are more than"},
        {"a 1 x 1 image inflating to 32 MiB", [&] {
             Package p = test::testPackage();
             p.images[5].file = zlibBomb(32u << 20);
             return test::withPackage(exe, p);
         }(), false, 0, "image 5: failed to load image data!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Loaded r = load(c.file);
        EXPECT_EQ(r.loaded, c.loads) << r.reason;
        EXPECT_EQ(r.textures, c.textures);
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    }
}

}  // namespace
}  // namespace iap
