// The GUI font: the system's match for SimHei at 36 pixels.
#pragma once

#include <optional>
#include <string>

struct ImFontAtlas;
struct ImFont;

namespace iap {

struct FontFile {
    std::string path;
    int faceIndex = 0;  // face within a font collection (.ttc)
};

// fontconfig's best match for the pattern, when it names a readable file.
std::optional<FontFile> matchFont(const char* pattern);

// Glyph ranges of every text the tool can show: Basic Latin, Latin-1 and
// general punctuation (zero-terminated pairs, static storage).
const unsigned short* toolGlyphRanges();

// Adds the match for "SimHei:lang=zh-cn" at 36 px as the atlas's first font.
// Returns null when no font file was found; the built-in font is used then.
ImFont* addToolFont(ImFontAtlas& atlas);

}  // namespace iap
