// The tool's one screen, drawn every frame between the GUI's new-frame and
// render calls: the skinned main view when the package loaded, else the
// error view with its message popup.
#pragma once

#include "package/skin.h"
#include "ui/display_state.h"
#include "ui/event_reporter.h"
#include "ui/thread_pool.h"
#include "upgrade/tool_context.h"

namespace iap {

// What the screen draws from and hands work to.
struct Screen {
    ToolContext& tool;        // busy state, auto-start flag, the package
    const Skin& skin;         // colours, textures, layout
    ThreadPool& pool;         // DEVINFO, START and auto-start run here
    DisplayState& display;    // the texts the UI thread writes
    EventReporter& reporter;  // the progress bar's two values
    bool packageValid = false;
};

void main_gui(Screen& screen);

}  // namespace iap
