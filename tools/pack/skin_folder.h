// Reading the 19 skin images from a folder, and writing the default skin to one.
#pragma once

#include <filesystem>
#include <ostream>
#include <vector>

#include "package/package_format.h"

namespace iap::pack {

// The images of ids 0..18 from dir, in id order. A file belongs to id N when
// its name starts with the number N followed by '-', '_' or '.' (as in
// "07-devinfo.bmp"). Every image must decode; an image of another pixel size
// than its slot gets a warning on warn (it is drawn stretched). Throws
// std::runtime_error naming the folder or file at fault.
std::vector<PackageImage> readSkinFolder(const std::filesystem::path& dir, std::ostream& warn);

// The built-in skin as package images, in id order.
std::vector<PackageImage> defaultSkinImages();

}  // namespace iap::pack
