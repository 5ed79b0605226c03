#include "package/package_loader.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "package/image_decode.h"
#include "package/layout.h"
#include "logging/diagnostics.h"
#include "package/package_format.h"

namespace iap {

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

void takeNoPackagePath(AppState& state, const std::string& reason) {
    warning("tool package not loaded: " + reason);
    state.colours = defaultColours();
    for (const auto& [id, rect] : layoutTable()) state.layout.insert_or_assign(id, rect);
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
    const uintmax_t size = fs::file_size(path);
    std::vector<uint8_t> buffer(static_cast<size_t>(size), 0);
    diagnostic("%s\n", quoted(path.string()).c_str());
    std::ifstream in(path, std::ios::binary);
    if (in) in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(size));
    return buffer;
}

bool LoadPackage(AppState& state, const TextureMaker& makeTexture) {
    const uintmax_t size = fs::file_size(state.executablePath);
    diagnostic("exe size:%d\n", static_cast<int32_t>(static_cast<uint32_t>(size)));

    PackageParse parse;
    {
        const std::vector<uint8_t> file = ReadWholeFile(state.executablePath);
        parse = parsePackage(file);
    }  // the file buffer is released here
    if (!parse.package) {
        takeNoPackagePath(state, parse.error);
        return false;
    }
    Package& package = *parse.package;

    // Decode every image, then make every texture, before the state changes:
    // a bad image never leaves half a skin behind, and no texture is made
    // for a package that is refused.
    // What decoding would cost is checked on the sizes the files declare,
    // before anything is decoded.
    if (std::string problem = imagesCostProblem(package.images); !problem.empty()) {
        takeNoPackagePath(state, problem);
        return false;
    }
    std::vector<DecodedImage> decoded;
    decoded.reserve(package.images.size());
    for (PackageImage& image : package.images) {
        try {
            decoded.push_back(decodeImage(image.file));
        } catch (const std::exception& e) {
            takeNoPackagePath(state, "image " + std::to_string(image.id) + ": " + e.what());
            return false;
        }
        std::vector<uint8_t>().swap(image.file);
    }
    std::vector<std::pair<int32_t, std::shared_ptr<ITexture>>> textures;
    textures.reserve(decoded.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
        const int32_t id = static_cast<int32_t>(package.images[i].id);
        try {
            std::shared_ptr<ITexture> texture = makeTexture(std::move(decoded[i]));
            if (!texture) throw std::runtime_error("no texture made");
            textures.emplace_back(id, std::move(texture));
        } catch (const std::exception& e) {
            takeNoPackagePath(state, "texture of image " + std::to_string(id) + ": " + e.what());
            return false;
        }
    }

    state.settings = package.settings;
    state.firmware = std::move(package.firmware);
    state.deviceIds = std::move(package.deviceIds);
    state.colours = std::move(package.colours);
    // In table order: a later entry of an id replaces the earlier texture.
    for (auto& [id, texture] : textures) state.textures.insert_or_assign(id, std::move(texture));

    diagnostic("retryNum:%d\n", static_cast<int32_t>(state.settings.retryNum));
    diagnostic("rebootDelay:%d\n", static_cast<int32_t>(state.settings.rebootDelay));
    diagnostic("switchDelay:%d\n", static_cast<int32_t>(state.settings.switchDelay));
    diagnostic("searchDeviceTimeout:%d\n", static_cast<int32_t>(state.settings.searchDeviceTimeout));
    diagnostic("readAckTimeout:%d\n", static_cast<int32_t>(state.settings.readAckTimeout));

    for (const auto& [id, rect] : layoutTable()) state.layout.insert_or_assign(id, rect);
    return true;
}

}  // namespace iap
