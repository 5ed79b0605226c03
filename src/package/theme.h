// The GUI style: the light base theme with the package colours laid on it.
#pragma once

#include <vector>

#include "package/skin.h"

struct ImGuiStyle;

namespace iap {

// The light colour preset of the GUI library on the global style.
void ApplyTheme();

// Copies colours 0 to 6 into text, window background, button, button hovered,
// button active, plot histogram and frame background; colour 1 also into the
// popup background, and colour 1 less 0.1 per component (not below 0) into
// the active title bar. Entries missing from a short list take the default
// colour of that index.
void LoadStyle(ImGuiStyle& style, const std::vector<Colour>& colours);
void LoadStyle(const std::vector<Colour>& colours);  // on the global style

}  // namespace iap
