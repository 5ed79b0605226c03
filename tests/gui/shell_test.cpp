// The shell's pieces: frame pacing, the package colours in the style, the
// font atlas, and the early ends of WinMain on a platform the test controls.
#include <gtest/gtest.h>
#include <imgui.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "app/font.h"
#include "app/frame_loop.h"
#include "app/shell.h"
#include "logging/logging.h"
#include "package/layout.h"
#include "package/theme.h"
#include "sim/sim_bus.h"

namespace iap {
namespace {

using namespace std::chrono;

TEST(FramePacer, EveryFrameKeepsTheBudgetEvenAfterASlowOne) {
    FramePacer pacer(microseconds(16666));
    pacer.pace();
    std::this_thread::sleep_for(milliseconds(30));  // a slow frame: no sleep
    EXPECT_EQ(pacer.pace().count(), 0);
    auto start = steady_clock::now();
    for (int i = 0; i < 12; ++i) {
        std::this_thread::sleep_for(milliseconds(2));  // the frame's own work
        pacer.pace();
    }
    // Paced from the point before the sleep, every second frame would run free.
    EXPECT_GE(duration_cast<microseconds>(steady_clock::now() - start).count(), 12 * 16666 - 1000);
}

// A clock the test sets: the Windows shell paces on the wall clock, which
// can be set back by hand or by time sync.
int64_t fakeNow = 0;
int64_t fakeClock() { return fakeNow; }

TEST(FramePacer, AClockSetBackCostsAtMostOneBudget) {
    FramePacer pacer(microseconds(16666), fakeClock);
    fakeNow = 3'600'000'000;
    pacer.pace();
    fakeNow -= 3'600'000'000;  // an hour back
    EXPECT_EQ(pacer.pace().count(), 16666);
    fakeNow += 5000;  // 5 ms of work after the pacing point
    EXPECT_EQ(pacer.pace().count(), 16666 - 5000);
    fakeNow += 20000;  // a slow frame
    EXPECT_EQ(pacer.pace().count(), 0);
}

TEST(Theme, PackageColoursGoIntoTheirSlotsAndTheTitleIsDarkenedNotBelowZero) {
    ImGuiStyle style;
    ImGui::StyleColorsLight(&style);
    const ImVec4 border = style.Colors[ImGuiCol_Border];
    std::vector<Colour> colours = defaultColours();
    LoadStyle(style, colours);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_PopupBg].x, 0.941176f);
    EXPECT_NEAR(style.Colors[ImGuiCol_TitleBgActive].x, 0.841176f, 1e-6);
    EXPECT_NEAR(style.Colors[ImGuiCol_TitleBgActive].w, 0.9f, 1e-6);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_Border].x, border.x);

    for (size_t i = 0; i < 7; ++i) colours[i] = {0.1f * static_cast<float>(i), 0.5f, 1.0f, 0.05f};
    LoadStyle(style, colours);
    const ImGuiCol slots[] = {ImGuiCol_Text,         ImGuiCol_WindowBg,      ImGuiCol_Button, ImGuiCol_ButtonHovered,
                              ImGuiCol_ButtonActive, ImGuiCol_PlotHistogram, ImGuiCol_FrameBg};
    for (size_t i = 0; i < 7; ++i) EXPECT_FLOAT_EQ(style.Colors[slots[i]].x, colours[i].r) << i;
    const ImVec4 title = style.Colors[ImGuiCol_TitleBgActive];
    EXPECT_FLOAT_EQ(title.x, 0.0f);
    EXPECT_NEAR(title.y, 0.4f, 1e-6);
    EXPECT_NEAR(title.z, 0.9f, 1e-6);
    EXPECT_FLOAT_EQ(title.w, 0.0f);

    LoadStyle(style, {Colour{1, 0, 0, 1}});  // a short list: defaults for the rest
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_Text].x, 1.0f);
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_WindowBg].x, 0.941176f);
}

TEST(Font, TheAtlasHoldsTheToolsGlyphsOnlyAndStaysSmall) {
    ImFontAtlas atlas;
    ImFont* font = addToolFont(atlas);
    if (!font) GTEST_SKIP() << "no font file matches SimHei on this machine";
    ASSERT_TRUE(atlas.Build());
    EXPECT_FLOAT_EQ(font->FontSize, 36.0f);
    EXPECT_LE(atlas.TexWidth, 2048);
    EXPECT_LE(atlas.TexHeight, 2048);
    EXPECT_NE(font->FindGlyphNoFallback(0x2026), nullptr);  // ellipsis
    EXPECT_EQ(font->FindGlyphNoFallback(0x4E2D), nullptr);
}

// A window that throws while it is made.
class ThrowingWindow final : public Platform {
public:
    bool initWindowSystem() override { return true; }
    bool createWindow(const WindowSpec&) override { throw std::runtime_error("no window today"); }
    bool makeContextCurrent() override { return false; }
    bool initImGui() override { return false; }
    void newImGuiFrame() override {}
    void shutdownImGui() override {}
    bool pumpMessages() override { return false; }
    void swapBuffers() override {}
    uint32_t clientWidth() const override { return 0; }
    uint32_t clientHeight() const override { return 0; }
    void destroyWindow() override {}
    void releaseWindowSystem() override {}
};

TEST(ShellStart, AStandardExceptionIsLoggedAndEndsWithAFailureCode) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("iap-shell-" + std::to_string(::getpid()));
    fs::create_directories(dir / "run");
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    sim::SimBus bus;
    char name[] = "usb-iap-tool";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(WinMain(1, argv, bus, std::make_unique<ThrowingWindow>()), 1);
    closeLoggers();
    std::ifstream in(dir / "basic-log.txt");
    std::string log, line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        log += line.substr(line.find("] [info] ") + 9) + "|";
    }
    EXPECT_EQ(log, "WinMain initializing...|Log system OK|CreateMutex OK|GetLastError OK|MyRegisterClass OK|"
                   "Main exception no window today|");
    fs::current_path(old);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace iap
