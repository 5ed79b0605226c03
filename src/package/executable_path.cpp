// The running executable's file on Linux.
#include "package/package_loader.h"

namespace iap {

std::filesystem::path currentExecutablePath(const std::filesystem::path& selfLink) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::read_symlink(selfLink, ec);
    return ec ? std::filesystem::path() : path;
}

}  // namespace iap
