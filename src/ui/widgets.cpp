#include "ui/widgets.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "package/layout.h"

namespace iap {
namespace {

ImVec2 operator+(ImVec2 a, ImVec2 b) { return ImVec2(a.x + b.x, a.y + b.y); }

ImRect rectAt(const LayoutRect& r, ImVec2 origin) {
    ImVec2 tl = origin + ImVec2(r.x, r.y);
    return ImRect(tl, tl + ImVec2(r.w, r.h));
}

void resetCursor() { ImGui::SetCursorPos(ImVec2(0, 0)); }

}  // namespace

LayoutRect layoutOf(const Skin& skin, int32_t id) {
    auto it = skin.layout.find(id);
    return it == skin.layout.end() ? LayoutRect{} : it->second;
}

void DrawImage(const Skin& skin, int32_t id, float opacity) {
    auto tex = skin.textures.find(id);
    if (tex == skin.textures.end() || !tex->second) return;
    ImRect bb = rectAt(layoutOf(skin, id), ImGui::GetCursorScreenPos());
    float alpha = opacity * ImGui::GetStyle().Alpha;
    ImU32 tint = ImGui::ColorConvertFloat4ToU32(ImVec4(1, 1, 1, alpha));
    ImTextureID texture = reinterpret_cast<ImTextureID>(tex->second->textureId);
    ImGui::GetWindowDrawList()->AddImage(texture, bb.Min, bb.Max, ImVec2(0, 0),
                                          ImVec2(tex->second->uvRight, tex->second->uvBottom), tint);
}

bool DrawImageButton(const Skin& skin, const char* name, int32_t normalId, int32_t hoveredId,
                     int32_t pressedId) {
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    if (window->SkipItems) return false;
    ImGuiID id = window->GetID(name);
    LayoutRect r = layoutOf(skin, normalId);
    ImRect bb = rectAt(r, window->DC.CursorPos);
    ImGui::ItemSize(ImVec2(r.w, r.h), -1.0f);
    if (!ImGui::ItemAdd(bb, id)) return false;
    bool hovered = false, held = false;
    bool pressed = ImGui::ButtonBehavior(bb, id, &hovered, &held);
    resetCursor();
    int32_t shown = (held && hovered) ? pressedId : hovered ? hoveredId : normalId;
    DrawImage(skin, shown, ImGui::GetStyle().Alpha);
    return pressed;
}

bool DrawAutoStartCheckbox(const Skin& skin, std::atomic<bool>& autoStart) {
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    if (window->SkipItems) return false;
    ImGuiID id = window->GetID("AUTO_START_CHECKBOX");
    LayoutRect r = layoutOf(skin, RSRC_IMG_BOX_EMPTY);
    ImRect bb = rectAt(r, window->DC.CursorPos);
    ImGui::ItemSize(ImVec2(r.w, r.h), ImGui::GetStyle().FramePadding.y);
    if (!ImGui::ItemAdd(bb, id)) return false;
    bool hovered = false, held = false;
    bool pressed = ImGui::ButtonBehavior(bb, id, &hovered, &held);
    if (pressed) {
        autoStart.store(!autoStart.load());
        ImGui::MarkItemEdited(id);
    }
    resetCursor();
    DrawImage(skin, autoStart.load() ? RSRC_IMG_BOX_TICKED : RSRC_IMG_BOX_EMPTY, ImGui::GetStyle().Alpha);
    return pressed;
}

namespace {

// Reused from frame to frame: no allocation once it has grown.
std::vector<TextLine>& breakAtCurrentFont(const char* text, float width) {
    static std::vector<TextLine> lines;
    ImFont* font = ImGui::GetFont();
    float scale = ImGui::GetFontSize() / font->FontSize;
    auto charWidth = [&](unsigned char c) {
        return std::floor(font->GetCharAdvance(static_cast<ImWchar>(c)) * scale + 0.99999f);
    };
    breakLines(text, width, charWidth, lines);
    return lines;
}

}  // namespace

size_t centredTextLines(const char* text, float width) { return breakAtCurrentFont(text, width).size(); }

void DrawCenteredText(const char* text, ImVec2 min, ImVec2 max) {
    ImFont* font = ImGui::GetFont();
    float size = ImGui::GetFontSize();
    const std::vector<TextLine>& lines = breakAtCurrentFont(text, max.x - min.x);

    ImVec2 cursor = ImGui::GetCursorScreenPos();
    float n = static_cast<float>(lines.size());
    float top = (min.y + max.y) / 2 + cursor.y - n * size / 2;
    float centreX = (min.x + max.x) / 2 + cursor.x;
    ImU32 colour = ImGui::GetColorU32(ImGuiCol_Text);
    if ((colour & IM_COL32_A_MASK) == 0) return;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    for (size_t k = 0; k < lines.size(); ++k) {
        const TextLine& line = lines[k];
        if (line.end == line.begin) continue;
        ImVec2 pos(centreX - std::floor(line.width + 0.99999f) / 2, top + static_cast<float>(k) * size);
        draw->AddText(font, size, pos, colour, text + line.begin, text + line.end);
    }
}

float progressFraction(uint32_t limit, uint32_t pos) {
    if (limit == 0) return 1.0f;
    return static_cast<float>(pos) / static_cast<float>(limit);
}

int progressPercent(float fraction) {
    return static_cast<int>(std::clamp(fraction, 0.0f, 1.0f) * 100.0f);
}

void DrawProgress(const Skin& skin, uint32_t limit, uint32_t pos) {
    LayoutRect r = layoutOf(skin, WIDGET_PROGRESS);
    ImVec2 p = ImGui::GetCursorScreenPos() + ImVec2(r.x, r.y);
    float f = progressFraction(limit, pos);
    char percent[16];
    std::snprintf(percent, sizeof percent, "%d%%", progressPercent(f));

    ImDrawList* draw = ImGui::GetWindowDrawList();
    // The fill stays inside the bar even if the position ever passes the limit.
    float fill = std::clamp(f, 0.0f, 1.0f);
    draw->AddRectFilled(p, p + ImVec2(fill * r.w, r.h), ImGui::GetColorU32(ImVec4(0, 1, 0, 1)));
    draw->AddRectFilled(p, p + ImVec2(r.w, r.h), ImGui::GetColorU32(ImVec4(0, 1, 0, 0.5f)));

    ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1, 1, 1, 1));
    DrawCenteredText(percent, ImVec2(r.x, r.y), ImVec2(r.x + r.w, r.y + r.h));
    ImGui::PopStyleColor();
}

}  // namespace iap
