// Peak memory of loading a tool package, for a normal package and for two
// image bombs: a 1 x 1 PNG whose data inflates to 64 MiB, and 60 image
// entries that all name one small PNG decoding to 16 MiB.
//   package_memory_bench make BARE DIR   writes DIR/normal, DIR/zlib-bomb,
//                                        DIR/normal-8mb (the normal package with
//                                        the entry bomb's 8 MiB firmware, its fair
//                                        baseline) and DIR/entry-bomb
//   package_memory_bench load TOOL       loads TOOL's package as the tool does
//                                        (textures kept as pixel copies) and
//                                        prints "loaded|refused peak_kib"
// bench/package_memory_bench.sh runs both and the real tool in Xvfb.
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pack/default_skin.h"
#include "pack/pack_options.h"
#include "pack/skin_folder.h"
#include "package/layout.h"
#include "package/package_format.h"
#include "package/package_loader.h"
#include "raster/png.h"

namespace {

using namespace iap;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeTool(const fs::path& path, Bytes exe, const Package& package, const std::vector<std::pair<size_t, size_t>>& aliases = {}) {
    PackageLayout at;
    const uint64_t exeSize = exe.size();
    Bytes bytes = encodePackage(package, exeSize, &at);
    // Entry i names the file of entry j.
    for (auto [i, j] : aliases) {
        std::memcpy(&bytes[at.imageTableOffset - exeSize + 12 * i + 4], &bytes[at.imageTableOffset - exeSize + 12 * j + 4], 8);
    }
    exe.insert(exe.end(), bytes.begin(), bytes.end());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(exe.data()), long(exe.size()));
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

Package demoPackage() {
    Package p;
    p.settings = pack::kDefaultSettings;
    ImageHeaderFields fields;
    fields.blockSize = 1024;
    p.firmware = buildFirmwareImage(fields, Bytes(65536, 0x5A));
    p.deviceIds = {{0x01, 0x5679, 0x1234}, {0x01, 0x5678, 0x1234}};
    p.colours = defaultColours();
    p.images = pack::defaultSkinImages();
    return p;
}

int make(const fs::path& bare, const fs::path& dir) {
    const Bytes exe = readAll(bare);
    fs::create_directories(dir);
    writeTool(dir / "normal", exe, demoPackage());

    Package zlib = demoPackage();
    zlib.images[1].file = raster::encodePngRows(1, 1, Bytes(64u << 20, 0));
    writeTool(dir / "zlib-bomb", exe, zlib);

    // The entries' sizes together stay below the file's: a large firmware
    // keeps the file larger than 60 times the PNG.
    Package entries = demoPackage();
    ImageHeaderFields fields;
    fields.blockSize = 4096;
    entries.firmware = buildFirmwareImage(fields, Bytes(8u << 20, 0x5A));
    writeTool(dir / "normal-8mb", exe, entries);
    const size_t first = entries.images.size();
    entries.images.push_back({0, raster::encodePng(2048, 2048, Bytes(16u << 20, 0))});
    std::vector<std::pair<size_t, size_t>> aliases;
    for (size_t i = 1; i <= 60; ++i) {
        entries.images.push_back({0, Bytes{0}});
        aliases.emplace_back(first + i, first);
    }
    writeTool(dir / "entry-bomb", exe, entries, aliases);
    return 0;
}

int load(const fs::path& tool) {
    AppState state;
    state.executablePath = tool;
    std::vector<DecodedImage> kept;  // what GL would hold
    std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    const bool loaded = LoadPackage(state, [&](DecodedImage&& image) {
        auto texture = std::make_shared<ITexture>(kept.size(), float(image.width), float(image.height));
        kept.push_back(std::move(image));
        return texture;
    });
    (void)quiet;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "%s %ld\n", loaded ? "loaded" : "refused", usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "make") return make(argv[2], argv[3]);
    if (argc == 3 && std::string(argv[1]) == "load") return load(argv[2]);
    std::fprintf(stderr, "usage: %s make BARE DIR | load TOOL\n", argv[0]);
    return 2;
}
