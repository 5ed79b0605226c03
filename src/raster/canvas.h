// A small software rasteriser for the images the tool draws itself (the
// built-in skin, the window icon): anti-aliased rounded rectangles, circles,
// triangles, thick lines, gradients and bitmap-font text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace iap::raster {

struct Rgba {
    float r = 0, g = 0, b = 0, a = 0;
};

// 0xRRGGBB with an alpha.
Rgba rgb(uint32_t hex, float alpha = 1.0f);
Rgba mix(Rgba a, Rgba b, float t);
Rgba lighten(Rgba c, float amount);  // towards white
Rgba darken(Rgba c, float amount);   // towards black

// Colour at a point (pixel coordinates, pixel centres at +0.5).
using Paint = std::function<Rgba(float x, float y)>;
Paint solid(Rgba colour);
Paint verticalGradient(float y0, Rgba top, float y1, Rgba bottom);

class Canvas {
public:
    Canvas(int width, int height, Rgba fill = {});

    int width() const { return width_; }
    int height() const { return height_; }
    Rgba pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    void setPixel(int x, int y, Rgba colour) { pixels_[static_cast<size_t>(y) * width_ + x] = colour; }

    // Blends paint over every pixel by the coverage of the shape whose signed
    // distance (negative inside) the function gives at the pixel centre.
    void fill(const std::function<float(float, float)>& distance, const Paint& paint);

    void fillRoundedRect(float x, float y, float w, float h, float radius, const Paint& paint);
    void strokeRoundedRect(float x, float y, float w, float h, float radius, float lineWidth,
                           const Paint& paint);
    void fillCircle(float cx, float cy, float radius, const Paint& paint);
    void strokeCircle(float cx, float cy, float radius, float lineWidth, const Paint& paint);
    void line(float x0, float y0, float x1, float y1, float thickness, const Paint& paint);
    void fillTriangle(float x0, float y0, float x1, float y1, float x2, float y2, const Paint& paint);

    // Text in the 5 x 7 font, glyphs `height` pixels high, top-left at (x, y).
    static float textWidth(const std::string& text, float height);
    void text(const std::string& text, float x, float y, float height, const Paint& paint,
              bool bold = false);
    // Centred in the rectangle.
    void centredText(const std::string& text, float x, float y, float w, float h, float height,
                     const Paint& paint, bool bold = false);

    // Copies the rectangle at (x, y) of the size of the result.
    Canvas crop(int x, int y, int w, int h) const;

    // Rows top to bottom, 8-bit straight RGBA.
    std::vector<uint8_t> rgba8() const;

private:
    void blend(size_t index, Rgba colour, float coverage);

    int width_;
    int height_;
    std::vector<Rgba> pixels_;
};

}  // namespace iap::raster
