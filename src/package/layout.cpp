#include "package/layout.h"

#include <array>

namespace iap {

namespace {

struct LayoutRow {
    int32_t id;
    float x, y, w, h;
};

// The background is drawn 600 x 600; the 400-pixel window shows its upper rows.
constexpr std::array<LayoutRow, kWidgetCount> kLayout = {{
    {0, 0, 0, 600, 600},
    {1, 119, 32, 119, 118},
    {2, 410, 50, 74, 26},
    {3, 410, 80, 74, 26},
    {4, 410, 110, 74, 26},
    {5, 503, 338, 26, 26},
    {6, 503, 338, 26, 26},
    {7, 71, 332, 111, 38},
    {8, 71, 332, 111, 38},
    {9, 71, 332, 111, 38},
    {10, 248, 332, 66, 38},
    {11, 248, 332, 66, 38},
    {12, 248, 332, 66, 38},
    {13, 380, 332, 111, 38},
    {14, 380, 332, 111, 38},
    {15, 380, 332, 111, 38},
    {16, 350, 56, 46, 13},
    {17, 350, 86, 46, 13},
    {18, 350, 116, 46, 13},
    {19, 56, 182, 488, 31},
    {20, 0, 200, 600, 100},
    {21, 380, 290, 111, 38},
}};

constexpr std::array<const char*, kWidgetCount> kNames = {
    "RSRC_IMG_BG",         "RSRC_IMG_LOGO",       "RSRC_IMG_TEXT_INPUT_VID",
    "RSRC_IMG_TEXT_INPUT_PID", "RSRC_IMG_TEXT_INPUT_VER", "RSRC_IMG_BOX",
    "RSRC_IMG_BOX",        "RSRC_IMG_DEVINFO",    "RSRC_IMG_DEVINFO",
    "RSRC_IMG_DEVINFO",    "RSRC_IMG_START",      "RSRC_IMG_START",
    "RSRC_IMG_START",      "RSRC_IMG_AUTO_START", "RSRC_IMG_AUTO_START",
    "RSRC_IMG_AUTO_START", "RSRC_IMG_VID",        "RSRC_IMG_PID",
    "RSRC_IMG_VER",        "DrawProgress",        "DrawTips",
    "RSRC_IMG_SWITCH_APP",
};

}  // namespace

const char* imageLogName(int32_t id) {
    if (id < 0 || id >= kWidgetCount) return "";
    return kNames[static_cast<size_t>(id)];
}

LayoutMap layoutTable() {
    LayoutMap map;
    for (const LayoutRow& row : kLayout) map.insert_or_assign(row.id, LayoutRect{row.w, row.h, row.x, row.y});
    return map;
}

std::vector<Colour> defaultColours() {
    std::vector<Colour> colours = {
        {0.0f, 0.0f, 0.0f, 1.0f},
        {0.941176f, 0.941176f, 0.941176f, 1.0f},
        {0.258824f, 0.588235f, 0.980392f, 0.4f},
        {0.258824f, 0.588235f, 0.980392f, 1.0f},
        {0.0588235f, 0.529412f, 0.980392f, 1.0f},
        {0.901961f, 0.701961f, 0.0f, 1.0f},
    };
    colours.resize(10, Colour{1.0f, 1.0f, 1.0f, 1.0f});
    return colours;
}

}  // namespace iap
