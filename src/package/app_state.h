// Application state filled once by the package loader before the first frame
// and only read afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "link/device_id.h"
#include "package/settings.h"
#include "package/texture.h"

namespace iap {

struct Colour {
    float r = 0, g = 0, b = 0, a = 0;
};

// Field order: width, height, x, y (pixels, relative to the window's top-left).
struct LayoutRect {
    float w = 0, h = 0, x = 0, y = 0;
};

using TextureMap = std::unordered_map<int32_t, std::shared_ptr<ITexture>>;
using LayoutMap = std::unordered_map<int32_t, LayoutRect>;

struct AppState {
    std::filesystem::path executablePath;
    std::vector<uint8_t> firmware;
    std::vector<DeviceIdEntry> deviceIds;
    std::vector<Colour> colours;
    TextureMap textures;
    Settings settings;
    LayoutMap layout;
};

}  // namespace iap
