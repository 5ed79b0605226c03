// usb-iap-icon OUT.ico: writes the window icon (src/app/window_icon.h) at its
// ten sizes as a Windows icon file. Built for the build machine: the Windows
// build puts its output into the executable's resources (icon group 101).
#include <cstdio>
#include <fstream>
#include <vector>

#include "app/window_icon.h"
#include "raster/ico.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.ico\n", argv[0]);
        return 2;
    }
    const std::vector<iap::IconImage> icons = iap::makeWindowIcons();
    std::vector<iap::raster::IcoImage> images;
    for (const iap::IconImage& icon : icons) images.push_back({icon.size, &icon.rgba});
    const std::vector<uint8_t> ico = iap::raster::encodeIco(images);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
