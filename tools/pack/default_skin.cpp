#include "pack/default_skin.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "raster/bmp.h"
#include "raster/canvas.h"

namespace iap::skin {

using namespace iap::raster;

namespace {

constexpr std::array<SkinSlot, 19> kSlots = {{
    {0, "00-background.bmp", 600, 400, false},
    {1, "01-logo.bmp", 119, 118, false},
    {2, "02-vid-field.bmp", 74, 26, false},
    {3, "03-pid-field.bmp", 74, 26, false},
    {4, "04-ver-field.bmp", 74, 26, false},
    {5, "05-box.bmp", 26, 26, false},
    {6, "06-box-ticked.bmp", 26, 26, false},
    {7, "07-devinfo.bmp", 111, 38, false},
    {8, "08-devinfo-hovered.bmp", 111, 38, false},
    {9, "09-devinfo-pressed.bmp", 111, 38, false},
    {10, "10-start.bmp", 66, 38, false},
    {11, "11-start-hovered.bmp", 66, 38, false},
    {12, "12-start-pressed.bmp", 66, 38, false},
    {13, "13-auto-start.bmp", 111, 38, false},
    {14, "14-auto-start-hovered.bmp", 111, 38, false},
    {15, "15-auto-start-pressed.bmp", 111, 38, false},
    {16, "16-vid-label.bmp", 46, 13, true},
    {17, "17-pid-label.bmp", 46, 13, true},
    {18, "18-ver-label.bmp", 46, 13, true},
}};

// Where each image lands in the window (x, y), to cut its backdrop from the
// window's background.
struct Place {
    int x, y;
};
constexpr std::array<Place, 19> kPlaces = {{
    {0, 0},     {119, 32},  {410, 50},  {410, 80},  {410, 110}, {503, 338}, {503, 338},
    {71, 332},  {71, 332},  {71, 332},  {248, 332}, {248, 332}, {248, 332}, {380, 332},
    {380, 332}, {380, 332}, {350, 56},  {350, 86},  {350, 116},
}};

const Rgba kWhite = rgb(0xFFFFFF);
const Rgba kFieldTop = rgb(0x0A1017);
const Rgba kFieldBottom = rgb(0x111A25);
const Rgba kAccent = rgb(0x2F80ED);

// The background as the window shows it: 600 x 600 window pixels, of which
// the upper 400 rows are visible.
Canvas drawWindowBackdrop() {
    Canvas c(600, 600);
    auto everywhere = [](float, float) { return -1.0f; };
    c.fill(everywhere, verticalGradient(0, rgb(0x293A4F), 400, rgb(0x10171F)));
    // A soft light from the upper left.
    c.fill(everywhere, [](float x, float y) {
        const float d = std::hypot(x - 140, (y - 30) * 1.3f) / 380.0f;
        return rgb(0x4D79A8, 0.22f * std::max(0.0f, 1 - d));
    });
    // Card behind the logo and the device fields.
    c.fillRoundedRect(36, 18, 528, 142, 14, solid(rgb(0xFFFFFF, 0.045f)));
    c.strokeRoundedRect(36, 18, 528, 142, 14, 1, solid(rgb(0xFFFFFF, 0.10f)));
    c.line(300, 44, 300, 134, 1, solid(rgb(0xFFFFFF, 0.08f)));
    // Groove under the progress bar.
    c.fillRoundedRect(50, 177, 500, 41, 9, solid(rgb(0x000000, 0.30f)));
    c.strokeRoundedRect(50, 177, 500, 41, 9, 1, solid(rgb(0xFFFFFF, 0.07f)));
    // Tool bar along the bottom, holding the buttons and the "ToBoot" button.
    c.fillRoundedRect(-20, 280, 640, 360, 0, solid(rgb(0x000000, 0.22f)));
    c.line(0, 280.5f, 600, 280.5f, 1, solid(rgb(0xFFFFFF, 0.08f)));
    return c;
}

// Squeezes the 600 x 600 window backdrop into the 600 x 400 image that the
// window stretches back to 600 x 600 (box filter over 1.5 rows).
Canvas squeezeBackground(const Canvas& window) {
    Canvas out(600, 400);
    const float step = static_cast<float>(window.height()) / out.height();
    for (int y = 0; y < out.height(); ++y) {
        const float top = y * step, bottom = top + step;
        for (int x = 0; x < out.width(); ++x) {
            Rgba sum{};
            float weight = 0;
            for (int row = static_cast<int>(top); row < window.height() && row < bottom; ++row) {
                const float w = std::min<float>(bottom, row + 1) - std::max<float>(top, row);
                const Rgba p = window.pixel(x, row);
                sum = {sum.r + p.r * w, sum.g + p.g * w, sum.b + p.b * w, sum.a + p.a * w};
                weight += w;
            }
            out.setPixel(x, y, {sum.r / weight, sum.g / weight, sum.b / weight, 1});
        }
    }
    return out;
}

void drawLogo(Canvas& c) {
    const float cx = 59.5f, cy = 50;
    c.fillCircle(cx, cy + 2, 42, solid(rgb(0x000000, 0.30f)));
    c.fillCircle(cx, cy, 41, verticalGradient(cy - 41, rgb(0x4AA3FF), cy + 41, rgb(0x1A56B8)));
    c.strokeCircle(cx, cy, 40, 1.5f, solid(rgb(0xFFFFFF, 0.35f)));
    c.strokeCircle(cx, cy, 45, 1.5f, solid(rgb(0x6FB4FF, 0.45f)));
    const Paint white = solid(kWhite);
    c.line(cx, 67, cx, 33, 7, white);
    c.line(cx, 30, cx - 14, 44, 7, white);
    c.line(cx, 30, cx + 14, 44, 7, white);
    c.line(cx - 19, 75, cx + 19, 75, 5, solid(rgb(0xFFFFFF, 0.9f)));
    c.centredText("USB IAP", 0, 99, 119, 13, 11, solid(rgb(0xDCE7F3)), true);
}

void drawField(Canvas& c) {
    const float w = static_cast<float>(c.width()), h = static_cast<float>(c.height());
    c.fillRoundedRect(0.5f, 0.5f, w - 1, h - 1, 5, verticalGradient(0, kFieldTop, h, kFieldBottom));
    c.strokeRoundedRect(0.5f, 0.5f, w - 1, h - 1, 5, 1, solid(rgb(0x50667E)));
    c.line(5, 2, w - 5, 2, 1, solid(rgb(0x000000, 0.35f)));
}

void drawLabel(Canvas& c, const std::string& text) {
    const float height = 9;
    const float x = c.width() - Canvas::textWidth(text, height) - 3;
    c.text(text, x, 2, height, solid(rgb(0xAFC2D6)), true);
}

void drawCheckBox(Canvas& c, bool ticked) {
    if (ticked) {
        c.fillRoundedRect(3, 3, 20, 20, 4, verticalGradient(3, rgb(0x4A9BFF), 23, rgb(0x1D63CC)));
        c.strokeRoundedRect(3, 3, 20, 20, 4, 1, solid(rgb(0x9ACBFF)));
        c.line(8, 13.5f, 11.5f, 17, 2.6f, solid(kWhite));
        c.line(11.5f, 17, 18.5f, 9, 2.6f, solid(kWhite));
    } else {
        c.fillRoundedRect(3, 3, 20, 20, 4, verticalGradient(3, kFieldTop, 23, kFieldBottom));
        c.strokeRoundedRect(3, 3, 20, 20, 4, 1.5f, solid(rgb(0x8198B0)));
    }
}

enum class Look { Normal, Hovered, Pressed };

void drawButton(Canvas& c, const std::string& label, Rgba base, Look look) {
    const float w = static_cast<float>(c.width()), h = static_cast<float>(c.height());
    const float radius = 7;
    const float shift = look == Look::Pressed ? 1.0f : 0.0f;
    if (look != Look::Pressed) c.fillRoundedRect(1, 2.5f, w - 2, h - 3, radius, solid(rgb(0, 0.4f)));
    Rgba top = lighten(base, 0.14f), bottom = darken(base, 0.14f);
    Rgba border = lighten(base, 0.30f);
    if (look == Look::Hovered) {
        top = lighten(base, 0.30f);
        bottom = lighten(base, 0.02f);
        border = lighten(base, 0.60f);
    } else if (look == Look::Pressed) {
        top = darken(base, 0.28f);
        bottom = darken(base, 0.08f);
        border = darken(base, 0.35f);
    }
    const float y = 1 + shift, bodyH = h - 4;
    c.fillRoundedRect(1, y, w - 2, bodyH, radius, verticalGradient(y, top, y + bodyH, bottom));
    c.strokeRoundedRect(1, y, w - 2, bodyH, radius, 1, solid(border));
    if (look != Look::Pressed) {
        c.line(radius, y + 1.5f, w - radius, y + 1.5f, 1, solid(rgb(0xFFFFFF, 0.25f)));
    } else {
        c.line(radius, y + 1.5f, w - radius, y + 1.5f, 1.5f, solid(rgb(0x000000, 0.25f)));
    }
    const Rgba text = look == Look::Pressed ? rgb(0xDDE5EE) : kWhite;
    c.centredText(label, 0, y + 0.5f, w, bodyH, 11, solid(rgb(0x000000, 0.35f)), true);
    c.centredText(label, 0, y - 0.5f, w, bodyH, 11, solid(text), true);
}

Canvas drawImage(const SkinSlot& slot, const Canvas& window) {
    const Place place = kPlaces[static_cast<size_t>(slot.id)];
    Canvas c = slot.alpha ? Canvas(slot.width, slot.height)
                          : window.crop(place.x, place.y, slot.width, slot.height);
    const Rgba devinfo = rgb(0x3F5673), start = kAccent, autoStart = rgb(0x5866C8);
    switch (slot.id) {
        case 0: return squeezeBackground(window);
        case 1: drawLogo(c); break;
        case 2: case 3: case 4: drawField(c); break;
        case 5: drawCheckBox(c, false); break;
        case 6: drawCheckBox(c, true); break;
        case 7: drawButton(c, "DEVINFO", devinfo, Look::Normal); break;
        case 8: drawButton(c, "DEVINFO", devinfo, Look::Hovered); break;
        case 9: drawButton(c, "DEVINFO", devinfo, Look::Pressed); break;
        case 10: drawButton(c, "START", start, Look::Normal); break;
        case 11: drawButton(c, "START", start, Look::Hovered); break;
        case 12: drawButton(c, "START", start, Look::Pressed); break;
        case 13: drawButton(c, "AUTO START", autoStart, Look::Normal); break;
        case 14: drawButton(c, "AUTO START", autoStart, Look::Hovered); break;
        case 15: drawButton(c, "AUTO START", autoStart, Look::Pressed); break;
        case 16: drawLabel(c, "VID"); break;
        case 17: drawLabel(c, "PID"); break;
        case 18: drawLabel(c, "VER"); break;
        default: break;
    }
    return c;
}

}  // namespace

const std::array<SkinSlot, 19>& skinSlots() { return kSlots; }

std::vector<SkinImage> makeDefaultSkin() {
    const Canvas window = drawWindowBackdrop();
    std::vector<SkinImage> images;
    for (const SkinSlot& slot : kSlots) {
        const Canvas c = drawImage(slot, window);
        images.push_back({slot.id, slot.fileName,
                          encodeBmp(c.width(), c.height(), c.rgba8(), slot.alpha)});
    }
    return images;
}

}  // namespace iap::skin
