// A small 5 x 7 bitmap font for the labels of the default skin.
#pragma once

namespace iap::raster {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;  // glyph plus one column of spacing

// Whether pixel (col, row) of the glyph for c is set; unknown characters are
// blank. Lower-case letters use the upper-case glyphs.
bool glyphPixel(char c, int col, int row);

}  // namespace iap::raster
