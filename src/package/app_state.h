// Application state filled once by the package loader before the first frame
// and only read afterwards: what an upgrade needs (upgrade_content.h) and
// what the window shows (skin.h).
#pragma once

#include "package/skin.h"
#include "package/upgrade_content.h"

namespace iap {

struct AppState : UpgradeContent, Skin {};

}  // namespace iap
