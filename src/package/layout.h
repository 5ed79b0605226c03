// The fixed screen layout, the default colours and the names of the package
// images in log lines.
#pragma once

#include <cstdint>
#include <vector>

#include "package/skin.h"

namespace iap {

// Widget ids; ids 0 to 18 are also the image ids of the package.
enum WidgetId : int32_t {
    RSRC_IMG_BG = 0,
    RSRC_IMG_LOGO = 1,
    RSRC_IMG_TEXT_INPUT_VID = 2,
    RSRC_IMG_TEXT_INPUT_PID = 3,
    RSRC_IMG_TEXT_INPUT_VER = 4,
    RSRC_IMG_BOX_EMPTY = 5,
    RSRC_IMG_BOX_TICKED = 6,
    RSRC_IMG_DEVINFO = 7,          // 7, 8, 9: normal, hovered, pressed
    RSRC_IMG_START = 10,           // 10, 11, 12
    RSRC_IMG_AUTO_START = 13,      // 13, 14, 15
    RSRC_IMG_VID = 16,
    RSRC_IMG_PID = 17,
    RSRC_IMG_VER = 18,
    WIDGET_PROGRESS = 19,
    WIDGET_TIPS = 20,
    RSRC_IMG_SWITCH_APP = 21,
};

constexpr int32_t kWidgetCount = 22;

// Name of an image or widget id as the screen's log lines show it
// ("RSRC_IMG_BOX" for both 5 and 6, "RSRC_IMG_START" for 10 to 12, ...);
// "DrawProgress" and "DrawTips" for 19 and 20; "" for an id outside 0..21.
const char* imageLogName(int32_t id);

// The 22 layout rectangles by widget id.
LayoutMap layoutTable();

// The ten colours used when no package is loaded.
std::vector<Colour> defaultColours();

}  // namespace iap
