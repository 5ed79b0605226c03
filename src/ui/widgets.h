// Drawing helpers of the main screen. All run on the main thread inside the
// one full-window GUI window and place their layout rectangles relative to
// the window's current drawing position, which they leave at (0, 0).
#pragma once

#include <imgui.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "package/skin.h"

namespace iap {

// The layout rectangle of a widget id; an all-zero rectangle for an id the
// layout lacks (it draws nothing and cannot be clicked).
LayoutRect layoutOf(const Skin& skin, int32_t id);

// The package image of the id stretched over its rectangle, tinted with alpha
// opacity x style alpha. Draws nothing when the package has no such image.
void DrawImage(const Skin& skin, int32_t id, float opacity);

// A click area (rectangle normalId) drawn with the normal, hovered or pressed
// image. True on the frame of a click (press and release on the area).
bool DrawImageButton(const Skin& skin, const char* name, int32_t normalId, int32_t hoveredId,
                     int32_t pressedId);

// The auto-start check box (rectangle 5): image 6 when the flag is set, else
// image 5. A click inverts the flag; true on that frame.
bool DrawAutoStartCheckbox(const Skin& skin, std::atomic<bool>& autoStart);

// The text broken into lines (at newlines and before a byte that would make
// a line wider than the rectangle), each line centred, the block centred
// vertically; style text colour, not clipped to the rectangle.
void DrawCenteredText(const char* text, ImVec2 min, ImVec2 max);

// Number of lines DrawCenteredText would draw for the text in that width at
// the current font size.
size_t centredTextLines(const char* text, float width);

// The progress bar in rectangle 19 with its percentage.
void DrawProgress(const Skin& skin, uint32_t limit, uint32_t pos);

// The pieces above, apart for testing.
struct TextLine {
    size_t begin = 0;  // byte offsets into the text, end exclusive
    size_t end = 0;
    float width = 0;   // sum of the whole-pixel byte widths
};
// Breaks text as DrawCenteredText does; charWidth gives each byte's width
// already rounded up to a whole pixel.
template <typename CharWidth>
void breakLines(std::string_view text, float maxWidth, CharWidth charWidth, std::vector<TextLine>& out) {
    out.clear();
    TextLine line;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            line.end = i;
            out.push_back(line);
            line = TextLine{i + 1, i + 1, 0};
            continue;
        }
        float w = charWidth(c);
        if (line.width + w > maxWidth && i > line.begin) {
            line.end = i;
            out.push_back(line);
            line = TextLine{i, i, 0};
        }
        line.width += w;
    }
    line.end = text.size();
    out.push_back(line);
}

// Fill fraction and percentage text of the progress bar. A limit of 0 (an
// image without data blocks) reads as complete.
float progressFraction(uint32_t limit, uint32_t pos);
int progressPercent(float fraction);

}  // namespace iap
