// The tool's one screen, drawn every frame between the GUI's new-frame and
// render calls: the skinned main view when the package loaded, else the
// error view with its message popup.
#pragma once

#include "upgrade/tool_context.h"

namespace iap {

void main_gui(ToolContext& ctx, bool packageValid);

}  // namespace iap
