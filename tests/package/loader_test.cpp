// Loading the package appended to an executable into the application state.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "package/layout.h"
#include "package/package_loader.h"
#include "test_packages.h"

namespace iap {
namespace {

using test::TempDir;

// A texture maker that hands out numbered textures and counts releases.
int g_released = 0;
void countRelease(uintptr_t) { ++g_released; }

struct RecordingMaker {
    int made = 0;
    std::vector<DecodedImage> images;
    TextureMaker maker() {
        return [this](DecodedImage&& image) {
            ++made;
            auto texture = std::make_shared<ITexture>(static_cast<uintptr_t>(1000 + made),
                                                      static_cast<float>(image.width),
                                                      static_cast<float>(image.height), countRelease);
            images.push_back(std::move(image));
            return texture;
        };
    }
};

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override { g_released = 0; }

    // Writes exe (+ package) to a file and loads it, capturing standard output.
    bool load(const std::vector<uint8_t>& file, const std::string& name = "tool") {
        path = dir / name;
        test::writeBytes(path, file);
        state.executablePath = path;
        ::testing::internal::CaptureStdout();
        const bool loaded = LoadPackage(state, maker.maker());
        output = ::testing::internal::GetCapturedStdout();
        return loaded;
    }

    std::string expectedStart(size_t size) const {
        return "exe size:" + std::to_string(size) + "\n\"" + path.string() + "\"\n";
    }

    void expectNoPackageState() {
        EXPECT_EQ(output, expectedStart(test::readBytes(path).size()));
        ASSERT_EQ(state.colours.size(), 10u);
        EXPECT_EQ(0, std::memcmp(state.colours.data(), defaultColours().data(), 10 * sizeof(Colour)));
        EXPECT_EQ(state.settings.retryNum, 0);
        EXPECT_EQ(state.settings.readAckTimeout, 0);
        EXPECT_TRUE(state.firmware.empty());
        EXPECT_TRUE(state.deviceIds.empty());
        EXPECT_TRUE(state.textures.empty());
        EXPECT_EQ(state.layout.size(), 22u);
        EXPECT_EQ(maker.made, g_released) << "every texture made was released again";
    }

    TempDir dir;
    std::filesystem::path path;
    AppState state;
    RecordingMaker maker;
    std::string output;
};

TEST_F(LoaderTest, LoadsAPackageAndPrintsItsLinesInOrder) {
    Package p = test::testPackage();
    p.settings = {3, 1000, 1000, 8000, 5000};
    const std::vector<uint8_t> file = test::withPackage(test::fakeExecutable(3000), p);
    ASSERT_TRUE(load(file));
    EXPECT_EQ(output, expectedStart(file.size()) +
                          "retryNum:3\nrebootDelay:1000\nswitchDelay:1000\n"
                          "searchDeviceTimeout:8000\nreadAckTimeout:5000\n");
    EXPECT_EQ(state.firmware, p.firmware);
    ASSERT_EQ(state.deviceIds.size(), 3u);
    EXPECT_EQ(state.deviceIds[2].productId, 0x5752);
    EXPECT_EQ(state.deviceIds[2].vendorId, 0x0483);
    EXPECT_EQ(state.deviceIds[2].reportId, 0x01);
    EXPECT_EQ(state.settings.searchDeviceTimeout, 8000);
    // A typical colour table gives exactly the default colours.
    ASSERT_EQ(state.colours.size(), 10u);
    EXPECT_EQ(0, std::memcmp(state.colours.data(), defaultColours().data(), 10 * sizeof(Colour)));
    ASSERT_EQ(state.textures.size(), 19u);
    for (int32_t id = 0; id < 19; ++id) {
        EXPECT_EQ(state.textures.at(id)->width, 2.0f);
        EXPECT_EQ(state.textures.at(id)->height, 2.0f);
    }
    // Decoded as RGBA, top row first; the red channel carries the image id.
    ASSERT_EQ(maker.images.size(), 19u);
    EXPECT_EQ(maker.images[7].rgba, std::vector<uint8_t>({7, 0x20, 0x30, 255, 7, 0x20, 0x30, 255,
                                                          7, 0x20, 0x30, 255, 7, 0x20, 0x30, 255}));
    EXPECT_EQ(state.layout.size(), 22u);
    EXPECT_EQ(g_released, 0);
}

TEST_F(LoaderTest, SettingsFrom2147483648UpPrintAsNegative) {
    Package p = test::testPackage();
    p.settings = {0x80000000u, 0xFFFFFFFFu, 1, 2, 3};
    ASSERT_TRUE(load(test::withPackage(test::fakeExecutable(10), p)));
    EXPECT_NE(output.find("retryNum:-2147483648\nrebootDelay:-1\n"), std::string::npos) << output;
    EXPECT_EQ(state.settings.retryNum, INT32_MIN);
}

TEST_F(LoaderTest, ALaterEntryOfAnIdReplacesTheEarlierTexture) {
    Package p = test::testPackage();
    p.images.push_back({3, test::solidBmp(5, 4, 200, 0, 0)});
    ASSERT_TRUE(load(test::withPackage(test::fakeExecutable(10), p)));
    EXPECT_EQ(maker.made, 20);
    EXPECT_EQ(state.textures.size(), 19u);
    EXPECT_EQ(state.textures.at(3)->width, 5.0f);
    EXPECT_EQ(state.textures.at(3)->height, 4.0f);
    EXPECT_EQ(g_released, 1) << "the first texture of id 3 is released once";
}

TEST_F(LoaderTest, AnExecutableWithoutAPackageGetsTheDefaults) {
    EXPECT_FALSE(load(test::fakeExecutable(4096)));
    expectNoPackageState();
    EXPECT_EQ(maker.made, 0);
}

TEST_F(LoaderTest, ADamagedPackageTakesTheNoPackagePath) {
    std::vector<uint8_t> file = test::withPackage(test::fakeExecutable(100), test::testPackage());
    file.erase(file.begin() + 400, file.begin() + 500);  // the trailer now points to the wrong place
    EXPECT_FALSE(load(file));
    expectNoPackageState();
    EXPECT_EQ(maker.made, 0);
}

TEST_F(LoaderTest, AnImageThatDoesNotDecodeLeavesNoTexturesBehind) {
    Package p = test::testPackage();
    p.images[12].file = {'B', 'M', 0, 1, 2, 3};
    EXPECT_FALSE(load(test::withPackage(test::fakeExecutable(100), p)));
    expectNoPackageState();
}

TEST_F(LoaderTest, AFailingTextureMakerLeavesNoTexturesBehind) {
    const std::vector<uint8_t> file = test::withPackage(test::fakeExecutable(100), test::testPackage());
    path = dir / "tool";
    test::writeBytes(path, file);
    state.executablePath = path;
    int made = 0;
    const TextureMaker failing = [&made](DecodedImage&& image) -> std::shared_ptr<ITexture> {
        if (++made == 10) throw std::runtime_error("out of texture memory");
        return std::make_shared<ITexture>(1, float(image.width), float(image.height), countRelease);
    };
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(LoadPackage(state, failing));
    output = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(state.textures.empty());
    EXPECT_EQ(g_released, 9);
    EXPECT_EQ(output, expectedStart(file.size()));
}

TEST_F(LoaderTest, ThePathIsPrintedQuotedWithEscapes) {
    EXPECT_FALSE(load(test::fakeExecutable(16), "odd\\name \"x\""));
    EXPECT_NE(output.find("\"" + dir.path().string() + "/odd\\\\name \\\"x\\\"\"\n"), std::string::npos)
        << output;
}

TEST_F(LoaderTest, AMissingExecutableThrowsTheFileSystemError) {
    state.executablePath = dir / "missing";
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(LoadPackage(state, maker.maker()), std::filesystem::filesystem_error);
    ::testing::internal::GetCapturedStdout();
}

TEST(PackageLoader, TheExecutablePathIsTheRunningFile) {
    const std::filesystem::path self = currentExecutablePath();
    EXPECT_TRUE(self.is_absolute());
    EXPECT_TRUE(std::filesystem::exists(self));
    EXPECT_EQ(self.filename(), "package_tests");
}

TEST(PackageLayout, ButtonLooksShareOneRectangle) {
    const LayoutMap layout = layoutTable();
    ASSERT_EQ(layout.size(), 22u);
    auto same = [&](int a, int b) {
        const LayoutRect &x = layout.at(a), &y = layout.at(b);
        return x.x == y.x && x.y == y.y && x.w == y.w && x.h == y.h;
    };
    for (auto [first, last] : {std::pair{5, 6}, {7, 9}, {10, 12}, {13, 15}}) {
        for (int id = first + 1; id <= last; ++id) EXPECT_TRUE(same(first, id)) << id;
    }
    EXPECT_FALSE(same(7, 10));
    // The background is drawn 600 x 600 into the 400-pixel-high window.
    EXPECT_EQ(layout.at(0).h, 600.0f);
    EXPECT_EQ(layout.at(21).x, 380.0f);
    EXPECT_EQ(layout.at(21).y, 290.0f);
    EXPECT_STREQ(imageLogName(6), "RSRC_IMG_BOX");
    EXPECT_STREQ(imageLogName(14), "RSRC_IMG_AUTO_START");
}

}  // namespace
}  // namespace iap
