#include "pack/skin_folder.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>

#include "pack/default_skin.h"
#include "pack/file_io.h"
#include "package/layout.h"
#include "package/image_decode.h"

namespace iap::pack {

namespace fs = std::filesystem;

namespace {

// The id a file name stands for, if it starts with a number and a separator.
std::optional<int> idOfFileName(const std::string& name) {
    size_t digits = 0;
    while (digits < name.size() && digits < 3 && name[digits] >= '0' && name[digits] <= '9') ++digits;
    if (digits == 0 || digits >= name.size()) return std::nullopt;
    const char separator = name[digits];
    if (separator != '-' && separator != '_' && separator != '.') return std::nullopt;
    return std::stoi(name.substr(0, digits));
}

}  // namespace

std::vector<PackageImage> readSkinFolder(const fs::path& dir, std::ostream& warn) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw std::runtime_error(dir.string() + ": not a folder");
    const auto& slots = skin::skinSlots();
    std::array<std::optional<fs::path>, 19> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::optional<int> id = idOfFileName(entry.path().filename().string());
        if (!id) continue;
        if (*id >= kImageIdCount) {
            warn << "usb-iap-pack: warning: " << entry.path().string()
                 << ": image id " << *id << " is not used (ids 0 to 18); ignored\n";
            continue;
        }
        std::optional<fs::path>& slot = found[static_cast<size_t>(*id)];
        if (slot) {
            throw std::runtime_error(dir.string() + ": " + slot->filename().string() + " and " +
                                     entry.path().filename().string() + " both hold image " +
                                     std::to_string(*id));
        }
        slot = entry.path();
    }
    std::vector<PackageImage> images;
    for (const skin::SkinSlot& slot : slots) {
        const std::optional<fs::path>& path = found[static_cast<size_t>(slot.id)];
        if (!path) {
            throw std::runtime_error(dir.string() + ": no image for id " + std::to_string(slot.id) +
                                     " (" + imageLogName(slot.id) + "), e.g. " + slot.fileName);
        }
        PackageImage image{static_cast<uint32_t>(slot.id), readWholeFile(*path)};
        if (std::string cost = imagesCostProblem({image}); !cost.empty()) {
            throw std::runtime_error(path->string() + ": " + cost);
        }
        DecodedImage decoded;
        try {
            decoded = decodeImage(image.file);
        } catch (const std::exception&) {
            throw std::runtime_error(path->string() + ": not an image the tool can decode");
        }
        if (decoded.width != slot.width || decoded.height != slot.height) {
            warn << "usb-iap-pack: warning: " << path->string() << ": " << decoded.width << "x"
                 << decoded.height << " pixels, drawn stretched to " << slot.width << "x"
                 << slot.height << "\n";
        }
        images.push_back(std::move(image));
    }
    if (std::string cost = imagesCostProblem(images); !cost.empty()) {
        throw std::runtime_error(dir.string() + ": " + cost);
    }
    return images;
}

std::vector<PackageImage> defaultSkinImages() {
    std::vector<PackageImage> images;
    for (skin::SkinImage& image : skin::makeDefaultSkin()) {
        images.push_back({static_cast<uint32_t>(image.id), std::move(image.file)});
    }
    return images;
}

}  // namespace iap::pack
