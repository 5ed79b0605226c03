// The widget helpers drawn into a headless GUI context: what lands in the
// draw list (positions, texture ids, tints) for images, buttons inside a
// disabled block, the progress bar and centred text.
#include <gtest/gtest.h>
#include <imgui.h>

#include <string>

#include "package/layout.h"
#include "ui/widgets.h"

namespace iap {
namespace {

class WidgetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(600, 400);
        io.DeltaTime = 1.0f / 60;
        unsigned char* pixels = nullptr;
        int w = 0, h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        state.layout = layoutTable();
        for (int32_t id = 0; id <= 18; ++id) {
            state.textures[id] = std::make_shared<ITexture>(static_cast<uintptr_t>(1000 + id), 10.0f, 10.0f);
        }
    }
    void TearDown() override { ImGui::DestroyContext(); }

    void beginFrame() {
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 400));
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
        ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
        ImGui::Begin("-", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize);
        ImGui::PopStyleVar(2);
        drawList = ImGui::GetWindowDrawList();
    }
    void endFrame() {
        ImGui::End();
        ImGui::Render();
    }

    // The first vertex added since beginFrame whose texture is `texture`.
    const ImDrawVert* imageVertex(uintptr_t texture) {
        for (const ImDrawCmd& cmd : drawList->CmdBuffer) {
            if (reinterpret_cast<uintptr_t>(cmd.TextureId) == texture && cmd.ElemCount > 0) {
                unsigned idx = drawList->IdxBuffer[static_cast<int>(cmd.IdxOffset)];
                return &drawList->VtxBuffer[static_cast<int>(idx + cmd.VtxOffset)];
            }
        }
        return nullptr;
    }

    static float alphaOf(ImU32 colour) { return ((colour >> IM_COL32_A_SHIFT) & 0xFF) / 255.0f; }

    AppState state;
    ImDrawList* drawList = nullptr;
};

TEST_F(WidgetsTest, ImagesAndButtonsUseTheirRectanglesAndDisabledBlocksDrawThemAtOpacity036) {
    beginFrame();
    DrawImage(state, RSRC_IMG_LOGO, 1.0f);
    ImGui::BeginDisabled();
    bool pressed = DrawImageButton(state, "START", RSRC_IMG_START, RSRC_IMG_START + 1, RSRC_IMG_START + 2);
    std::atomic<bool> autoStart{true};
    DrawAutoStartCheckbox(state, autoStart);
    ImGui::EndDisabled();
    ImVec2 cursor = ImGui::GetCursorPos();
    endFrame();

    EXPECT_FALSE(pressed);
    EXPECT_EQ(cursor.x, 0.0f);
    EXPECT_EQ(cursor.y, 0.0f);

    const ImDrawVert* logo = imageVertex(1000 + RSRC_IMG_LOGO);
    ASSERT_NE(logo, nullptr);
    EXPECT_FLOAT_EQ(logo->pos.x, 119.0f);
    EXPECT_FLOAT_EQ(logo->pos.y, 32.0f);
    EXPECT_NEAR(alphaOf(logo->col), 1.0f, 0.01f);

    const ImDrawVert* start = imageVertex(1000 + RSRC_IMG_START);
    ASSERT_NE(start, nullptr);
    EXPECT_FLOAT_EQ(start->pos.x, 248.0f);
    EXPECT_FLOAT_EQ(start->pos.y, 332.0f);
    EXPECT_NEAR(alphaOf(start->col), 0.36f, 0.01f);

    // The flag is set: the ticked image, at the check box's rectangle.
    const ImDrawVert* box = imageVertex(1000 + RSRC_IMG_BOX_TICKED);
    ASSERT_NE(box, nullptr);
    EXPECT_FLOAT_EQ(box->pos.x, 503.0f);
    EXPECT_NEAR(alphaOf(box->col), 0.36f, 0.01f);
    EXPECT_EQ(imageVertex(1000 + RSRC_IMG_BOX_EMPTY), nullptr);
}

TEST_F(WidgetsTest, MissingImagesAndRectanglesDrawNothing) {
    state.textures.erase(RSRC_IMG_LOGO);
    beginFrame();
    int before = drawList->VtxBuffer.Size;
    DrawImage(state, RSRC_IMG_LOGO, 1.0f);
    DrawImage(state, 99, 1.0f);
    int after = drawList->VtxBuffer.Size;
    endFrame();
    EXPECT_EQ(before, after);
    LayoutRect none = layoutOf(state, 99);
    EXPECT_EQ(none.w, 0.0f);
    EXPECT_EQ(none.h, 0.0f);
}

TEST_F(WidgetsTest, ProgressBarFillsItsFractionUnderTheTrack) {
    beginFrame();
    int before = drawList->VtxBuffer.Size;
    DrawProgress(state, 3, 2);
    endFrame();
    // Fill first (4 vertices), then the track over it.
    ASSERT_GE(drawList->VtxBuffer.Size - before, 8);
    const ImDrawVert* v = &drawList->VtxBuffer[before];
    float minX = 1e9f, maxX = -1e9f;
    for (int i = 0; i < 4; ++i) {
        minX = std::min(minX, v[i].pos.x);
        maxX = std::max(maxX, v[i].pos.x);
    }
    EXPECT_FLOAT_EQ(minX, 56.0f);
    EXPECT_NEAR(maxX, 56.0f + 488.0f * 2 / 3, 0.01f);
    EXPECT_EQ(v[0].col, IM_COL32(0, 255, 0, 255));
    EXPECT_NEAR(alphaOf(v[4].col), 0.5f, 0.01f);
}

TEST(ProgressText, FractionAndPercentage) {
    EXPECT_EQ(progressPercent(progressFraction(3, 2)), 66);
    EXPECT_EQ(progressPercent(progressFraction(100, 100)), 100);
    EXPECT_EQ(progressPercent(progressFraction(100, 0)), 0);
    EXPECT_EQ(progressPercent(progressFraction(10, 25)), 100);  // clamped text
    EXPECT_EQ(progressPercent(progressFraction(0, 0)), 100);    // no data blocks
}

std::vector<std::string> lines(std::string_view text, float width) {
    std::vector<TextLine> out;
    breakLines(text, width, [](unsigned char) { return 10.0f; }, out);
    std::vector<std::string> result;
    for (const TextLine& l : out) result.emplace_back(text.substr(l.begin, l.end - l.begin));
    return result;
}

TEST(CentredText, BreaksAtNewlinesAndBeforeTheByteThatOverflows) {
    EXPECT_EQ(lines("PASS\n", 600), (std::vector<std::string>{"PASS", ""}));
    EXPECT_EQ(lines("A\n\nB", 600), (std::vector<std::string>{"A", "", "B"}));
    EXPECT_EQ(lines("abcdefg", 30), (std::vector<std::string>{"abc", "def", "g"}));
    EXPECT_EQ(lines("", 30), (std::vector<std::string>{""}));
    // A byte wider than the rectangle still gets a line of its own, no empty one.
    EXPECT_EQ(lines("ab", 5), (std::vector<std::string>{"a", "b"}));
    // Longer than 255 bytes: offsets are not cut to a byte.
    std::string longText(300, 'x');
    EXPECT_EQ(lines(longText + "\nend", 1e6f).back(), "end");
}

TEST_F(WidgetsTest, CentredTextIsCentredAroundTheRectangleMiddle) {
    beginFrame();
    int before = drawList->VtxBuffer.Size;
    DrawCenteredText("PASS\n", ImVec2(0, 200), ImVec2(600, 300));
    float fontSize = ImGui::GetFontSize();
    endFrame();
    ASSERT_GT(drawList->VtxBuffer.Size, before);
    float minY = 1e9f, maxY = -1e9f, minX = 1e9f, maxX = -1e9f;
    for (int i = before; i < drawList->VtxBuffer.Size; ++i) {
        const ImVec2& p = drawList->VtxBuffer[i].pos;
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
    }
    // Two lines (the second empty): the first sits just above the middle.
    EXPECT_GE(minY, 250 - fontSize - 0.5f);
    EXPECT_LE(maxY, 250 + 0.5f);
    EXPECT_NEAR((minX + maxX) / 2, 300.0f, 3.0f);
}

}  // namespace
}  // namespace iap
