#include "raster/canvas.h"

#include <algorithm>
#include <cmath>

#include "raster/pixel_font.h"

namespace iap::raster {

namespace {

float clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// Signed distance to a rounded rectangle (negative inside).
float roundedRectDistance(float px, float py, float x, float y, float w, float h, float r) {
    const float cx = x + w / 2, cy = y + h / 2;
    const float qx = std::fabs(px - cx) - (w / 2 - r);
    const float qy = std::fabs(py - cy) - (h / 2 - r);
    const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - r;
}

float segmentDistance(float px, float py, float x0, float y0, float x1, float y1) {
    const float dx = x1 - x0, dy = y1 - y0;
    const float len2 = dx * dx + dy * dy;
    const float t = len2 > 0 ? clamp01(((px - x0) * dx + (py - y0) * dy) / len2) : 0.0f;
    return std::hypot(px - (x0 + t * dx), py - (y0 + t * dy));
}

// Signed distance to a triangle (negative inside), either winding.
float triangleDistance(float px, float py, const float (&v)[6]) {
    float nearest = 1e30f;
    int inside = 0;
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        const float x0 = v[2 * i], y0 = v[2 * i + 1], x1 = v[2 * j], y1 = v[2 * j + 1];
        nearest = std::min(nearest, segmentDistance(px, py, x0, y0, x1, y1));
        const float cross = (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0);
        inside += cross > 0 ? 1 : cross < 0 ? -1 : 0;
    }
    return (inside == 3 || inside == -3) ? -nearest : nearest;
}

}  // namespace

Rgba rgb(uint32_t hex, float alpha) {
    return {((hex >> 16) & 0xFF) / 255.0f, ((hex >> 8) & 0xFF) / 255.0f, (hex & 0xFF) / 255.0f,
            alpha};
}

Rgba mix(Rgba a, Rgba b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

Rgba lighten(Rgba c, float amount) { return mix(c, {1, 1, 1, c.a}, amount); }
Rgba darken(Rgba c, float amount) { return mix(c, {0, 0, 0, c.a}, amount); }

Paint solid(Rgba colour) {
    return [colour](float, float) { return colour; };
}

Paint verticalGradient(float y0, Rgba top, float y1, Rgba bottom) {
    return [=](float, float y) { return mix(top, bottom, clamp01((y - y0) / (y1 - y0))); };
}

Canvas::Canvas(int width, int height, Rgba fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

void Canvas::blend(size_t index, Rgba src, float coverage) {
    const float sa = clamp01(src.a * coverage);
    if (sa <= 0) return;
    Rgba& dst = pixels_[index];
    const float outA = sa + dst.a * (1 - sa);
    if (outA <= 0) return;
    const float keep = dst.a * (1 - sa);
    dst.r = (src.r * sa + dst.r * keep) / outA;
    dst.g = (src.g * sa + dst.g * keep) / outA;
    dst.b = (src.b * sa + dst.b * keep) / outA;
    dst.a = outA;
}

void Canvas::fill(const std::function<float(float, float)>& distance, const Paint& paint) {
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            const float coverage = clamp01(0.5f - distance(px, py));
            if (coverage > 0) blend(static_cast<size_t>(y) * width_ + x, paint(px, py), coverage);
        }
    }
}

void Canvas::fillRoundedRect(float x, float y, float w, float h, float radius, const Paint& paint) {
    fill([=](float px, float py) { return roundedRectDistance(px, py, x, y, w, h, radius); }, paint);
}

void Canvas::strokeRoundedRect(float x, float y, float w, float h, float radius, float lineWidth,
                               const Paint& paint) {
    // The line lies just inside the rectangle's edge.
    fill(
        [=](float px, float py) {
            const float d = roundedRectDistance(px, py, x, y, w, h, radius);
            return std::fabs(d + lineWidth / 2) - lineWidth / 2;
        },
        paint);
}

void Canvas::fillCircle(float cx, float cy, float radius, const Paint& paint) {
    fill([=](float px, float py) { return std::hypot(px - cx, py - cy) - radius; }, paint);
}

void Canvas::strokeCircle(float cx, float cy, float radius, float lineWidth, const Paint& paint) {
    fill([=](float px, float py) { return std::fabs(std::hypot(px - cx, py - cy) - radius) - lineWidth / 2; },
         paint);
}

void Canvas::line(float x0, float y0, float x1, float y1, float thickness, const Paint& paint) {
    fill([=](float px, float py) { return segmentDistance(px, py, x0, y0, x1, y1) - thickness / 2; },
         paint);
}

void Canvas::fillTriangle(float x0, float y0, float x1, float y1, float x2, float y2, const Paint& paint) {
    const float v[6] = {x0, y0, x1, y1, x2, y2};
    fill([&v](float px, float py) { return triangleDistance(px, py, v); }, paint);
}

float Canvas::textWidth(const std::string& text, float height) {
    if (text.empty()) return 0;
    const float scale = height / kGlyphHeight;
    return (static_cast<float>(text.size()) * kGlyphAdvance - 1) * scale;
}

void Canvas::text(const std::string& text, float x, float y, float height, const Paint& paint,
                  bool bold) {
    constexpr int kSamples = 4;  // 4 x 4 samples per pixel
    const float scale = height / kGlyphHeight;
    const float boldShift = bold ? 0.45f : 0.0f;  // in glyph pixels
    auto setAt = [&](float gx, float gy) {
        if (gx < 0 || gy < 0) return false;
        const int col = static_cast<int>(gx), row = static_cast<int>(gy);
        const size_t index = static_cast<size_t>(col / kGlyphAdvance);
        if (index >= text.size() || row >= kGlyphHeight) return false;
        return glyphPixel(text[index], col % kGlyphAdvance, row);
    };
    const int x0 = std::max(0, static_cast<int>(std::floor(x)));
    const int y0 = std::max(0, static_cast<int>(std::floor(y)));
    const int x1 = std::min(width_, static_cast<int>(std::ceil(x + textWidth(text, height) + scale)));
    const int y1 = std::min(height_, static_cast<int>(std::ceil(y + height)));
    for (int py = y0; py < y1; ++py) {
        for (int px = x0; px < x1; ++px) {
            int hits = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const float gx = (px + (sx + 0.5f) / kSamples - x) / scale;
                    const float gy = (py + (sy + 0.5f) / kSamples - y) / scale;
                    if (setAt(gx, gy) || (bold && setAt(gx - boldShift, gy))) ++hits;
                }
            }
            if (hits > 0) {
                blend(static_cast<size_t>(py) * width_ + px, paint(px + 0.5f, py + 0.5f),
                      static_cast<float>(hits) / (kSamples * kSamples));
            }
        }
    }
}

void Canvas::centredText(const std::string& text, float x, float y, float w, float h, float height,
                         const Paint& paint, bool bold) {
    const float tw = textWidth(text, height) + (bold ? 0.45f * height / kGlyphHeight : 0.0f);
    this->text(text, std::round(x + (w - tw) / 2), std::round(y + (h - height) / 2), height, paint,
               bold);
}

Canvas Canvas::crop(int x, int y, int w, int h) const {
    Canvas out(w, h);
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const int sx = std::clamp(x + i, 0, width_ - 1), sy = std::clamp(y + j, 0, height_ - 1);
            out.pixels_[static_cast<size_t>(j) * w + i] = pixel(sx, sy);
        }
    }
    return out;
}

std::vector<uint8_t> Canvas::rgba8() const {
    std::vector<uint8_t> out;
    out.reserve(pixels_.size() * 4);
    auto byte = [](float v) { return static_cast<uint8_t>(std::lround(clamp01(v) * 255.0f)); };
    for (const Rgba& p : pixels_) {
        out.push_back(byte(p.r));
        out.push_back(byte(p.g));
        out.push_back(byte(p.b));
        out.push_back(byte(p.a));
    }
    return out;
}

}  // namespace iap::raster
