#include "app/window_icon.h"

#include "raster/canvas.h"

namespace iap {
namespace {

// A green rounded tile that darkens towards the bottom, with a white upward
// arrow over a bar: firmware going up. Drawn in unit coordinates scaled to
// the size.
IconImage drawIcon(int size) {
    using namespace raster;
    const float s = static_cast<float>(size);
    Canvas canvas(size, size);
    const Rgba green{0.10f, 0.62f, 0.30f, 1.0f};
    canvas.fillRoundedRect(0.02f * s, 0.02f * s, 0.96f * s, 0.96f * s, 0.16f * s,
                           verticalGradient(0, green, s, darken(green, 0.25f)));
    const Paint white = solid({1, 1, 1, 1});
    canvas.fillTriangle(0.50f * s, 0.16f * s, 0.24f * s, 0.46f * s, 0.76f * s, 0.46f * s, white);
    canvas.fillRoundedRect(0.41f * s, 0.44f * s, 0.18f * s, 0.24f * s, 0, white);
    canvas.fillRoundedRect(0.22f * s, 0.75f * s, 0.56f * s, 0.09f * s, 0.02f * s, white);
    return IconImage{size, canvas.rgba8()};
}

}  // namespace

std::vector<IconImage> makeWindowIcons() {
    std::vector<IconImage> icons;
    for (int size : {16, 24, 32, 48, 64, 72, 80, 96, 128, 256}) icons.push_back(drawIcon(size));
    return icons;
}

}  // namespace iap
