// Loading the package appended to an executable into the application state.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "package/layout.h"
#include "package/package_loader.h"
#include "support/test_packages.h"

namespace iap {
namespace {

int g_released = 0;

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override { g_released = 0; }

    // Writes the file, loads it and captures standard output. The texture
    // maker numbers its textures, keeps the decoded images and throws when
    // asked to make texture number failAt. Then loads what usb-iap-flash
    // loads of the same file.
    bool load(const std::vector<uint8_t>& file, const std::string& name = "tool", int failAt = 0) {
        path = dir / name;
        test::writeBytes(path, file);
        state.executablePath = path;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const bool loaded = LoadPackage(state, [&](DecodedImage&& image) {
            if (++made == failAt) throw std::runtime_error("out of texture memory");
            auto texture = std::make_shared<ITexture>(1000 + made, float(image.width), float(image.height),
                                                      [](uintptr_t) { ++g_released; });
            images.push_back(std::move(image));
            return texture;
        });
        reason = ::testing::internal::GetCapturedStderr();
        output = ::testing::internal::GetCapturedStdout();
        content = {};
        ::testing::internal::CaptureStdout();
        contentProblem = LoadUpgradeContent(path, content);
        contentOutput = ::testing::internal::GetCapturedStdout();
        return loaded;
    }

    std::string expectedStart(size_t size) const {
        return "exe size:" + std::to_string(size) + "\n\"" + path.string() + "\"\n";
    }

    test::TempDir dir;
    std::filesystem::path path;
    AppState state;
    int made = 0;
    std::vector<DecodedImage> images;
    std::string output, reason;
    UpgradeContent content;
    std::string contentProblem, contentOutput;
};

TEST_F(LoaderTest, LoadsAPackageAndPrintsItsLinesInOrder) {
    Package p = test::testPackage();
    p.settings = {0x80000000u, 0xFFFFFFFFu, 1000, 8000, 5000};
    p.images[7].file = raster::encodeBmp(1, 2, {255, 0, 0, 255, 0, 0, 255, 255}, false);  // red over blue
    p.images.push_back({3, test::solidBmp(5, 4, 200, 0, 0)});  // the later entry of id 3 wins
    const std::vector<uint8_t> file = test::withPackage(test::fakeExecutable(3000), p);
    ASSERT_TRUE(load(file));
    // Settings are stored unsigned and printed signed.
    EXPECT_EQ(output, expectedStart(file.size()) +
                          "retryNum:-2147483648\nrebootDelay:-1\nswitchDelay:1000\n"
                          "searchDeviceTimeout:8000\nreadAckTimeout:5000\n");
    EXPECT_EQ(state.settings.retryNum, 0x80000000u);
    EXPECT_EQ(state.firmware, p.firmware);
    ASSERT_EQ(state.deviceIds.size(), 3u);
    EXPECT_EQ(state.deviceIds[2].productId, 0x5752);
    EXPECT_EQ(state.deviceIds[2].vendorId, 0x0483);
    EXPECT_EQ(state.deviceIds[2].reportId, 0x01);
    // A typical colour table gives exactly the default colours.
    ASSERT_EQ(state.colours.size(), 10u);
    EXPECT_EQ(0, std::memcmp(state.colours.data(), defaultColours().data(), 10 * sizeof(Colour)));
    // Decoded to RGBA, not flipped: the first row is the image's top row.
    ASSERT_EQ(images.size(), 20u);
    EXPECT_EQ(images[7].rgba, std::vector<uint8_t>({255, 0, 0, 255, 0, 0, 255, 255}));
    ASSERT_EQ(state.textures.size(), 19u);
    EXPECT_EQ(state.textures.at(7)->height, 2.0f);
    EXPECT_EQ(state.textures.at(3)->width, 5.0f);
    EXPECT_EQ(g_released, 1) << "the first texture of id 3 is released once";
    EXPECT_EQ(state.layout.size(), 22u);

    // An upgrade's part of it, under the same rule, with the same lines.
    EXPECT_EQ(contentProblem, "");
    EXPECT_EQ(contentOutput, output);
    EXPECT_EQ(content.firmware, state.firmware);
    EXPECT_EQ(content.deviceIds.size(), 3u);
    EXPECT_EQ(content.settings.retryNum, 0x80000000u);
    EXPECT_EQ(content.executablePath, path);
}

TEST_F(LoaderTest, WithoutASoundPackageOnlyTheDefaultColoursAndTheLayoutAreSet) {
    std::vector<uint8_t> damaged = test::withPackage(test::fakeExecutable(100), test::testPackage());
    damaged.erase(damaged.begin() + 400, damaged.begin() + 500);  // the trailer points to the wrong place
    Package badImage = test::testPackage();
    badImage.images[12].file = {'B', 'M', 0, 1, 2, 3};
    const struct { const char* what; std::vector<uint8_t> file; int failAt; } cases[] = {
        {"no package", test::fakeExecutable(4096), 0},
        {"damaged package", damaged, 0},
        {"image that does not decode", test::withPackage(test::fakeExecutable(100), badImage), 0},
        {"texture maker fails", test::withPackage(test::fakeExecutable(100), test::testPackage()), 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        state = AppState{};
        made = g_released = 0;
        EXPECT_FALSE(load(c.file, "tool", c.failAt));
        EXPECT_EQ(output, expectedStart(c.file.size())) << "no settings lines";
        EXPECT_EQ(reason.rfind("USB IAP tool: tool package not loaded: ", 0), 0u) << reason;
        ASSERT_EQ(state.colours.size(), 10u);
        EXPECT_EQ(0, std::memcmp(state.colours.data(), defaultColours().data(), 10 * sizeof(Colour)));
        EXPECT_EQ(state.layout.size(), 22u);
        const Settings none;
        EXPECT_EQ(0, std::memcmp(&state.settings, &none, sizeof(Settings)));
        EXPECT_TRUE(state.firmware.empty());
        EXPECT_TRUE(state.deviceIds.empty());
        EXPECT_TRUE(state.textures.empty());
        EXPECT_EQ(made, c.failAt) << "textures are made only for a checked, decoded package";
        EXPECT_EQ(g_released, c.failAt ? c.failAt - 1 : 0) << "every texture made was released again";
        // usb-iap-flash refuses what the window refuses, for the same reason.
        if (!c.failAt) {
            EXPECT_EQ(reason, "USB IAP tool: tool package not loaded: " + contentProblem + "\n");
            EXPECT_EQ(contentOutput, output);
            EXPECT_TRUE(content.firmware.empty());
        }
    }
}

TEST_F(LoaderTest, ThePathIsPrintedQuotedWithEscapes) {
    EXPECT_FALSE(load(test::fakeExecutable(16), "odd\\name \"x\""));
    EXPECT_EQ(output, "exe size:16\n\"" + dir.path().string() + "/odd\\\\name \\\"x\\\"\"\n");
}

TEST_F(LoaderTest, AMissingExecutableThrowsTheFileSystemError) {
    state.executablePath = dir / "missing";
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(LoadPackage(state, nullptr), std::filesystem::filesystem_error);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(currentExecutablePath().filename(), "package_tests") << "the running file";
}

TEST(PackageLayout, ButtonLooksShareOneRectangle) {
    const LayoutMap layout = layoutTable();
    ASSERT_EQ(layout.size(), 22u);
    auto equal = [](const LayoutRect& a, const LayoutRect& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    auto same = [&](int a, int b) { return equal(layout.at(a), layout.at(b)); };
    for (auto [first, last] : {std::pair{5, 6}, {7, 9}, {10, 12}, {13, 15}}) {
        for (int id = first + 1; id <= last; ++id) EXPECT_TRUE(same(first, id)) << id;
    }
    EXPECT_FALSE(same(7, 10));
    // Width, height, x, y: the background is drawn 600 x 600 into the 400-pixel-high window.
    EXPECT_TRUE(equal(layout.at(0), {600, 600, 0, 0}));
    EXPECT_TRUE(equal(layout.at(21), {111, 38, 380, 290}));
}

// Where the running executable's link cannot be read, the path is empty and
// start-up falls back on argv[0] (it used to throw before reaching it).
TEST(ExecutablePath, AnUnreadableSelfLinkGivesAnEmptyPath) {
    EXPECT_TRUE(currentExecutablePath("/nonexistent/self/exe").empty());
    EXPECT_EQ(currentExecutablePath(), std::filesystem::read_symlink("/proc/self/exe"));
}

}  // namespace
}  // namespace iap
