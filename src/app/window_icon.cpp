#include "app/window_icon.h"

#include <algorithm>
#include <cmath>

namespace iap {
namespace {

// Coverage of a rounded square of half-size 0.5 and corner radius r at (x, y)
// in unit coordinates centred on 0.
float roundedSquare(float x, float y, float r) {
    float qx = std::fabs(x) - (0.5f - r);
    float qy = std::fabs(y) - (0.5f - r);
    float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    float inside = std::min(std::max(qx, qy), 0.0f);
    return outside + inside - r;  // signed distance, negative inside
}

bool inArrow(float x, float y) {
    // Head: triangle from (0, -0.34) widening to half-width 0.26 at y = -0.04.
    if (y >= -0.34f && y <= -0.04f) {
        float half = (y + 0.34f) / 0.30f * 0.26f;
        if (std::fabs(x) <= half) return true;
    }
    // Shaft.
    if (y > -0.04f && y <= 0.18f && std::fabs(x) <= 0.09f) return true;
    // Bar under the arrow.
    return y >= 0.25f && y <= 0.34f && std::fabs(x) <= 0.28f;
}

IconImage drawIcon(int size) {
    IconImage img;
    img.size = size;
    img.rgba.resize(static_cast<size_t>(size) * size * 4);
    const int samples = 4;
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            float tile = 0, arrow = 0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    float x = (px + (sx + 0.5f) / samples) / size - 0.5f;
                    float y = (py + (sy + 0.5f) / samples) / size - 0.5f;
                    if (roundedSquare(x, y, 0.18f) <= -0.02f) {
                        tile += 1;
                        if (inArrow(x, y)) arrow += 1;
                    }
                }
            }
            tile /= samples * samples;
            arrow /= samples * samples;
            // Tile: a green that darkens towards the bottom; arrow: white.
            float shade = 1.0f - 0.25f * py / size;
            float r = 0.10f * shade, g = 0.62f * shade, b = 0.30f * shade;
            float a = tile;
            float t = tile > 0 ? arrow / tile : 0;
            r = r * (1 - t) + t;
            g = g * (1 - t) + t;
            b = b * (1 - t) + t;
            uint8_t* p = &img.rgba[(static_cast<size_t>(py) * size + px) * 4];
            p[0] = static_cast<uint8_t>(std::lround(r * 255));
            p[1] = static_cast<uint8_t>(std::lround(g * 255));
            p[2] = static_cast<uint8_t>(std::lround(b * 255));
            p[3] = static_cast<uint8_t>(std::lround(a * 255));
        }
    }
    return img;
}

}  // namespace

std::vector<IconImage> makeWindowIcons() {
    std::vector<IconImage> icons;
    for (int size : {16, 24, 32, 48, 64, 72, 80, 96, 128, 256}) icons.push_back(drawIcon(size));
    return icons;
}

}  // namespace iap
