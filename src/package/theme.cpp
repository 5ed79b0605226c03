#include "package/theme.h"

#include <imgui.h>

#include <algorithm>

#include "package/layout.h"

namespace iap {
namespace {

ImVec4 toVec(const Colour& c) { return ImVec4(c.r, c.g, c.b, c.a); }

}  // namespace

void ApplyTheme() { ImGui::StyleColorsLight(); }

void LoadStyle(ImGuiStyle& style, const std::vector<Colour>& colours) {
    const std::vector<Colour> defaults = defaultColours();
    auto colour = [&](size_t i) { return i < colours.size() ? colours[i] : defaults[i]; };
    const ImGuiCol slots[7] = {ImGuiCol_Text,          ImGuiCol_WindowBg,      ImGuiCol_Button,
                               ImGuiCol_ButtonHovered, ImGuiCol_ButtonActive,  ImGuiCol_PlotHistogram,
                               ImGuiCol_FrameBg};
    for (size_t i = 0; i < 7; ++i) style.Colors[slots[i]] = toVec(colour(i));
    Colour bg = colour(1);
    style.Colors[ImGuiCol_PopupBg] = toVec(bg);
    auto darker = [](float x) { return std::max(0.0f, x - 0.1f); };
    style.Colors[ImGuiCol_TitleBgActive] = ImVec4(darker(bg.r), darker(bg.g), darker(bg.b), darker(bg.a));
}

void LoadStyle(const std::vector<Colour>& colours) { LoadStyle(ImGui::GetStyle(), colours); }

}  // namespace iap
