// The widget helpers in a headless GUI context: what lands in the draw list.
#include <gtest/gtest.h>
#include <imgui.h>

#include <string>

#include "package/layout.h"
#include "ui/widgets.h"

namespace iap {
namespace {

float alphaOf(ImU32 colour) { return ((colour >> IM_COL32_A_SHIFT) & 0xFF) / 255.0f; }

class Widgets : public ::testing::Test {
protected:
    void SetUp() override {
        ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(600, 400);
        unsigned char* pixels = nullptr;
        int w = 0, h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        state.layout = layoutTable();
        for (int32_t id = 0; id <= 18; ++id)
            state.textures[id] = std::make_shared<ITexture>(static_cast<uintptr_t>(1000 + id), 10.0f, 10.0f);
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 400));
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
        ImGui::Begin("-", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize);
        ImGui::PopStyleVar();
        draw = ImGui::GetWindowDrawList();
        first = draw->VtxBuffer.Size;
    }
    void TearDown() override {
        ImGui::End();
        ImGui::Render();
        ImGui::DestroyContext();
    }

    // The first vertex drawn with that texture.
    const ImDrawVert* imageVertex(uintptr_t texture) {
        for (const ImDrawCmd& cmd : draw->CmdBuffer)
            if (reinterpret_cast<uintptr_t>(cmd.TextureId) == texture && cmd.ElemCount > 0)
                return &draw->VtxBuffer[static_cast<int>(draw->IdxBuffer[static_cast<int>(cmd.IdxOffset)] +
                                                         cmd.VtxOffset)];
        return nullptr;
    }

    Skin state;
    ImDrawList* draw = nullptr;
    int first = 0;
};

TEST_F(Widgets, ImagesSitInTheirRectanglesAndDisabledButtonsDrawAtOpacity036) {
    state.textures.erase(RSRC_IMG_BG);
    DrawImage(state, RSRC_IMG_BG, 1.0f);  // no texture: nothing drawn
    DrawImage(state, 99, 1.0f);           // no rectangle: nothing drawn
    EXPECT_EQ(draw->VtxBuffer.Size, first);
    DrawImage(state, RSRC_IMG_LOGO, 1.0f);
    ImGui::BeginDisabled();
    EXPECT_FALSE(DrawImageButton(state, "START", RSRC_IMG_START, RSRC_IMG_START + 1, RSRC_IMG_START + 2));
    std::atomic<bool> autoStart{true};
    DrawAutoStartCheckbox(state, autoStart);
    ImGui::EndDisabled();
    EXPECT_EQ(ImGui::GetCursorPos().x, 0.0f);
    EXPECT_EQ(ImGui::GetCursorPos().y, 0.0f);

    struct Case { int32_t id; float x, y, alpha; };
    for (Case c : {Case{RSRC_IMG_LOGO, 119, 32, 1.0f}, Case{RSRC_IMG_START, 248, 332, 0.36f},
                   Case{RSRC_IMG_BOX_TICKED, 503, 338, 0.36f}}) {
        const ImDrawVert* v = imageVertex(1000 + static_cast<uintptr_t>(c.id));
        ASSERT_NE(v, nullptr) << c.id;
        EXPECT_FLOAT_EQ(v->pos.x, c.x) << c.id;
        EXPECT_FLOAT_EQ(v->pos.y, c.y) << c.id;
        EXPECT_NEAR(alphaOf(v->col), c.alpha, 0.01f) << c.id;
    }
    EXPECT_EQ(imageVertex(1000 + RSRC_IMG_BOX_EMPTY), nullptr);  // the flag is set
}

TEST_F(Widgets, ProgressFillThenTrackOverItAndThePercentageText) {
    DrawProgress(state, 3, 2);
    ASSERT_GE(draw->VtxBuffer.Size - first, 8);
    const ImDrawVert* v = &draw->VtxBuffer[first];
    float right = std::max({v[0].pos.x, v[1].pos.x, v[2].pos.x, v[3].pos.x});
    EXPECT_FLOAT_EQ(std::min({v[0].pos.x, v[1].pos.x, v[2].pos.x, v[3].pos.x}), 56.0f);
    EXPECT_NEAR(right, 56.0f + 488.0f * 2 / 3, 0.01f);
    EXPECT_EQ(v[0].col, IM_COL32(0, 255, 0, 255));
    EXPECT_NEAR(alphaOf(v[4].col), 0.5f, 0.01f);

    struct Case { uint32_t limit, pos; int percent; };
    for (Case c : {Case{3, 2, 66}, Case{100, 100, 100}, Case{100, 0, 0}, Case{10, 25, 100}, Case{0, 0, 100}})
        EXPECT_EQ(progressPercent(progressFraction(c.limit, c.pos)), c.percent) << c.limit << " " << c.pos;
}

TEST(CentredText, BreaksAtNewlinesAndBeforeTheByteThatOverflows) {
    struct Case { std::string text; float width; std::vector<std::string> lines; };
    const std::string longText(300, 'x');  // past what a byte offset could hold
    const Case cases[] = {
        {"PASS\n", 600, {"PASS", ""}},
        {"A\n\nB", 600, {"A", "", "B"}},
        {"abcdefg", 30, {"abc", "def", "g"}},
        {"", 30, {""}},
        {"ab", 5, {"a", "b"}},
        {longText + "\nend", 1e6f, {longText, "end"}},
    };
    for (const Case& c : cases) {
        std::vector<TextLine> out;
        breakLines(c.text, c.width, [](unsigned char) { return 10.0f; }, out);
        std::vector<std::string> got;
        for (const TextLine& l : out) got.push_back(c.text.substr(l.begin, l.end - l.begin));
        EXPECT_EQ(got, c.lines) << c.text;
    }
}

TEST_F(Widgets, CentredTextSitsAroundTheRectangleMiddle) {
    DrawCenteredText("PASS\n", ImVec2(0, 200), ImVec2(600, 300));
    ASSERT_GT(draw->VtxBuffer.Size, first);
    float minY = 1e9f, maxY = -1e9f, minX = 1e9f, maxX = -1e9f;
    for (int i = first; i < draw->VtxBuffer.Size; ++i) {
        const ImVec2& p = draw->VtxBuffer[i].pos;
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    }
    // Two lines, the second empty: the first sits just above the middle.
    EXPECT_GE(minY, 250 - ImGui::GetFontSize() - 0.5f);
    EXPECT_LE(maxY, 250.5f);
    EXPECT_NEAR((minX + maxX) / 2, 300.0f, 3.0f);
}

}  // namespace
}  // namespace iap
