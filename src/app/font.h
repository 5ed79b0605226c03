// The GUI font: SimHei at 36 pixels, with the glyphs of the tool's texts.
// Linux: fontconfig's match for SimHei (font_fontconfig.cpp). Windows:
// simhei.ttf in the system's Fonts folder, else the first of a few fonts
// every Windows installs (font_win32.cpp).
#pragma once

#include <optional>
#include <string>

struct ImFontAtlas;
struct ImFont;

namespace iap {

inline constexpr float kToolFontPixels = 36.0f;

#ifdef _WIN32
// In the Fonts folder, in this order: SimHei (Chinese Windows), Microsoft
// YaHei (Windows 7 on, with the Chinese glyphs too), Segoe UI, Arial.
inline constexpr const wchar_t* kWin32FontFiles[] = {L"simhei.ttf", L"msyh.ttc", L"msyh.ttf", L"segoeui.ttf",
                                                     L"arial.ttf"};
#else
struct FontFile {
    std::string path;
    int faceIndex = 0;  // face within a font collection (.ttc)
};

// fontconfig's best match for the pattern, when it names a readable file.
std::optional<FontFile> matchFont(const char* pattern);
#endif

// Glyph ranges of every text the tool can show: Basic Latin, Latin-1 and
// general punctuation (zero-terminated pairs, static storage).
const unsigned short* toolGlyphRanges();

// Adds the tool's font at 36 px as the atlas's first font and names its
// file in *file (UTF-8). Returns null when there is no font file; the
// built-in font is used then.
ImFont* addToolFont(ImFontAtlas& atlas, std::string* file = nullptr);

}  // namespace iap
