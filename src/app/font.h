// The GUI font: SimHei at 36 pixels, with the glyphs of the tool's texts.
// Linux: fontconfig's match for SimHei (font_fontconfig.cpp). Windows: the
// file "c:\Windows\Fonts\simhei.ttf" (font_win32.cpp).
#pragma once

#include <optional>
#include <string>

struct ImFontAtlas;
struct ImFont;

namespace iap {

#ifdef _WIN32
inline constexpr const char* kWin32FontFile = "c:\\Windows\\Fonts\\simhei.ttf";
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

// Adds the tool's font at 36 px as the atlas's first font. Returns null when
// there is no font file; the built-in font is used then.
ImFont* addToolFont(ImFontAtlas& atlas);

}  // namespace iap
