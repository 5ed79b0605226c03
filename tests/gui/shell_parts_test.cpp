// Pieces of the shell and the theme that need no display: frame pacing, the
// single-instance lock, the style colours, the font atlas and the icons.
#include <gtest/gtest.h>
#include <imgui.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/font.h"
#include "app/frame_loop.h"
#include "app/single_instance.h"
#include "app/window_icon.h"
#include "package/layout.h"
#include "package/theme.h"

namespace iap {
namespace {

using namespace std::chrono;

TEST(FramePacer, EveryFrameKeepsTheBudgetNotOnlyEverySecondOne) {
    FramePacer pacer(microseconds(16666));
    pacer.pace();
    auto start = steady_clock::now();
    const int frames = 12;
    for (int i = 0; i < frames; ++i) {
        std::this_thread::sleep_for(milliseconds(2));  // the frame's own work
        pacer.pace();
    }
    auto elapsed = duration_cast<microseconds>(steady_clock::now() - start);
    // Unpaced every second frame would give about half of this.
    EXPECT_GE(elapsed.count(), frames * 16666 - 1000);
}

TEST(FramePacer, ASlowFrameIsNotFollowedByAnUnpacedOne) {
    FramePacer pacer(microseconds(16666));
    pacer.pace();
    std::this_thread::sleep_for(milliseconds(30));  // slow frame: no sleep needed
    EXPECT_EQ(pacer.pace().count(), 0);
    // The next frame is paced from the start of the slow one's successor.
    EXPECT_GT(pacer.pace().count(), 10000);
}

class RuntimeDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("iap-lock-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        saved = old ? old : "";
        hadOld = old != nullptr;
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld)
            setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path dir;
    std::string saved;
    bool hadOld = false;
};

TEST_F(RuntimeDir, TheSecondLockOnTheNameFindsTheFirstRunning) {
    EXPECT_EQ(runtimeDirectory(), dir);
    EXPECT_EQ(acquireInstanceLock("USB IAP tool"), InstanceLock::Acquired);
    EXPECT_TRUE(std::filesystem::exists(dir / "USB IAP tool"));
    EXPECT_EQ(acquireInstanceLock("USB IAP tool"), InstanceLock::AlreadyRunning);
    EXPECT_EQ(acquireInstanceLock("another name"), InstanceLock::Acquired);
}

TEST_F(RuntimeDir, WithoutAUsableRuntimeDirectoryTheLockGoesToTmp) {
    setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(runtimeDirectory(), "/tmp");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(runtimeDirectory(), "/tmp");
    setenv("XDG_RUNTIME_DIR", (dir / "missing").c_str(), 1);
    EXPECT_EQ(acquireInstanceLock("USB IAP tool"), InstanceLock::Unavailable);
}

TEST(Theme, PackageColoursGoIntoTheirStyleSlots) {
    ImGuiStyle style;
    ImGui::StyleColorsLight(&style);
    ImVec4 untouched = style.Colors[ImGuiCol_Border];
    LoadStyle(style, defaultColours());
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_WindowBg].x, 0.941176f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_PopupBg].x, 0.941176f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_Text].x, 0.0f);
    EXPECT_NEAR(style.Colors[ImGuiCol_TitleBgActive].x, 0.841176f, 1e-6);
    EXPECT_NEAR(style.Colors[ImGuiCol_TitleBgActive].w, 0.9f, 1e-6);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_PlotHistogram].x, 0.901961f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_Border].x, untouched.x);

    std::vector<Colour> colours = defaultColours();
    colours[1] = {0.05f, 0.5f, 1.0f, 0.05f};
    colours[8] = {0.3f, 0.3f, 0.3f, 0.3f};  // unused
    LoadStyle(style, colours);
    ImVec4 title = style.Colors[ImGuiCol_TitleBgActive];
    EXPECT_FLOAT_EQ(title.x, 0.0f);
    EXPECT_NEAR(title.y, 0.4f, 1e-6);
    EXPECT_NEAR(title.z, 0.9f, 1e-6);
    EXPECT_FLOAT_EQ(title.w, 0.0f);
}

TEST(Theme, AShortColourListTakesTheDefaultsForTheMissingEntries) {
    ImGuiStyle style;
    LoadStyle(style, {Colour{1, 0, 0, 1}, Colour{0, 0, 1, 1}});
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_Text].x, 1.0f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_WindowBg].z, 1.0f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_PlotHistogram].x, 0.901961f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_FrameBg].x, 1.0f);
}

TEST(Font, TheAtlasHoldsOnlyTheToolsGlyphsAndStaysSmall) {
    const unsigned short* r = toolGlyphRanges();
    EXPECT_EQ(r[0], 0x20);
    EXPECT_EQ(r[1], 0xFF);
    EXPECT_EQ(r[2], 0x2000);
    EXPECT_EQ(r[3], 0x206F);
    EXPECT_EQ(r[4], 0);

    ImFontAtlas atlas;
    ImFont* font = addToolFont(atlas);
    if (!font) GTEST_SKIP() << "no font file matches SimHei on this machine";
    ASSERT_TRUE(atlas.Build());
    EXPECT_FLOAT_EQ(font->FontSize, 36.0f);
    // Far below the 4096 x 16384 of the full Chinese ranges, and below the
    // 4096 limit of any GPU.
    EXPECT_LE(atlas.TexWidth, 2048);
    EXPECT_LE(atlas.TexHeight, 2048);
    EXPECT_NE(font->FindGlyphNoFallback(0x2026), nullptr);  // ellipsis
}

TEST(WindowIcon, TenSizesWithTransparentCornersAndAnOpaqueCentre) {
    std::vector<IconImage> icons = makeWindowIcons();
    ASSERT_EQ(icons.size(), 10u);
    EXPECT_EQ(icons.front().size, 16);
    EXPECT_EQ(icons.back().size, 256);
    for (const IconImage& icon : icons) {
        ASSERT_EQ(icon.rgba.size(), static_cast<size_t>(icon.size * icon.size * 4));
        EXPECT_EQ(icon.rgba[3], 0) << icon.size;  // top-left corner
        size_t centre = (static_cast<size_t>(icon.size / 2) * icon.size + icon.size / 2) * 4;
        EXPECT_EQ(icon.rgba[centre + 3], 255) << icon.size;
    }
}

}  // namespace
}  // namespace iap
