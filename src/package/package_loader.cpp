#include "package/package_loader.h"

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "logging/diagnostics.h"
#include "package/image_decode.h"
#include "package/layout.h"
#include "package/package_format.h"
#include "package/package_signature.h"
#include "package/whole_file.h"

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

// The package of the tool file under the one rule for "usable": the file
// holds a package that parses, what its images would cost to decode is
// within the caps, and every image decodes. The diagnostics get "exe size"
// and the quoted path. decoded, when given, receives the decoded images in
// table order; otherwise each is dropped once decoded. Returns why the
// package cannot be used, empty when it can. Throws filesystem_error
// ("file_size") when the file's size cannot be determined.
std::string readUsablePackage(const fs::path& file, const TrustedKeys& trust, Package& package, std::string& signer,
                              std::vector<DecodedImage>* decoded) {
    const uintmax_t size = fs::file_size(file);
    diagnostic("exe size:%d\n", static_cast<int32_t>(static_cast<uint32_t>(size)));
    diagnostic("%s\n", quoted(file.string()).c_str());

    PackageParse parse;
    PackageSignature signature;
    try {
        const std::vector<uint8_t> bytes = readWholeFile(file);  // released once the package is read
        parse = parsePackage(bytes);
        if (!parse.package) return parse.error;
        signature = readPackageSignature(bytes, parse);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    if (trust.configured()) {
        if (TrustCheck check = checkTrust(signature, trust); check.verdict != TrustVerdict::Accepted) return check.text;
    }
    signer = signature.state == SignatureState::Valid ? fingerprint(signature.signer) : std::string();
    package = std::move(*parse.package);

    // What decoding would cost is checked on the sizes the files declare,
    // before anything is decoded.
    if (std::string problem = imagesCostProblem(package.images); !problem.empty()) return problem;
    if (decoded) decoded->reserve(package.images.size());
    for (PackageImage& image : package.images) {
        try {
            DecodedImage pixels = decodeImage(image.file);
            if (decoded) decoded->push_back(std::move(pixels));
        } catch (const std::exception& e) {
            return "image " + std::to_string(image.id) + ": " + e.what();
        }
        std::vector<uint8_t>().swap(image.file);
    }
    return {};
}

void printSettings(const Settings& settings) {
    diagnostic("retryNum:%d\n", static_cast<int32_t>(settings.retryNum));
    diagnostic("rebootDelay:%d\n", static_cast<int32_t>(settings.rebootDelay));
    diagnostic("switchDelay:%d\n", static_cast<int32_t>(settings.switchDelay));
    diagnostic("searchDeviceTimeout:%d\n", static_cast<int32_t>(settings.searchDeviceTimeout));
    diagnostic("readAckTimeout:%d\n", static_cast<int32_t>(settings.readAckTimeout));
}

void takeContent(UpgradeContent& content, Package& package, std::string& signer) {
    content.signer = std::move(signer);
    content.settings = package.settings;
    content.firmware = std::move(package.firmware);
    content.deviceIds = std::move(package.deviceIds);
}

}  // namespace

bool LoadPackage(AppState& state, const TextureMaker& makeTexture, const TrustedKeys& trust, std::string* whyNot) {
    // Decode every image, then make every texture, before the state changes:
    // a bad image never leaves half a skin behind, and no texture is made
    // for a package that is refused.
    Package package;
    std::string signer;
    std::vector<DecodedImage> decoded;
    if (std::string problem = readUsablePackage(state.executablePath, trust, package, signer, &decoded);
        !problem.empty()) {
        takeNoPackagePath(state, problem);
        if (whyNot) *whyNot = problem;
        return false;
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
            const std::string problem = "texture of image " + std::to_string(id) + ": " + e.what();
            takeNoPackagePath(state, problem);
            if (whyNot) *whyNot = problem;
            return false;
        }
    }

    takeContent(state, package, signer);
    state.colours = std::move(package.colours);
    // In table order: a later entry of an id replaces the earlier texture.
    for (auto& [id, texture] : textures) state.textures.insert_or_assign(id, std::move(texture));
    printSettings(state.settings);

    for (const auto& [id, rect] : layoutTable()) state.layout.insert_or_assign(id, rect);
    return true;
}

std::string LoadUpgradeContent(const fs::path& file, UpgradeContent& content, const TrustedKeys& trust) {
    Package package;
    std::string signer;
    if (std::string problem = readUsablePackage(file, trust, package, signer, nullptr); !problem.empty()) {
        return problem;
    }
    content.executablePath = file;
    takeContent(content, package, signer);
    printSettings(content.settings);
    return {};
}

}  // namespace iap
