// `usb-iap-pack build`.

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "bytes/firmware_image.h"
#include "bytes/hex.h"
#include "pack/default_skin.h"
#include "pack/file_io.h"
#include "pack/pack_commands.h"
#include "pack/pack_options.h"
#include "pack/pack_subcommand.h"
#include "pack/skin_folder.h"
#include "package/authenticode.h"
#include "package/package_format.h"
#include "package/package_loader.h"
#include "package/payload_file.h"

namespace iap::pack {

namespace fs = std::filesystem;

namespace {

// Where the executable's own bytes end: the whole file, or with --replace
// the start of the package it already carries.
size_t executableEnd(const BuildOptions& o, const std::vector<uint8_t>& exe) {
    // A signature would not cover what is appended after it, and the
    // appended package would hide the certificate table from Windows.
    if (certificateTable(exe)) {
        throw std::runtime_error(o.exe.string() +
                                 ": is already code-signed (it carries an Authenticode certificate "
                                 "table); build from the unsigned tool, then sign the tool that "
                                 "build writes");
    }
    const std::optional<uint32_t> header = trailerHeaderOffset(exe);
    if (!header) return exe.size();
    if (!o.replace) {
        throw std::runtime_error(o.exe.string() +
                                 ": already carries a tool package; give --replace to replace it");
    }
    if (*header > exe.size() - kTrailerSize) {
        throw std::runtime_error(o.exe.string() +
                                 ": its package trailer points outside the file, so where the "
                                 "executable ends is unknown");
    }
    return *header;
}

// Where the payload came from, for build's report: its format and addresses.
std::string payloadLine(const BuildOptions& o, const Payload& payload) {
    const auto address = [](uint64_t value) { return "0x" + hexText(value, value > 0xFFFFFFFFu ? 16 : 8); };
    std::string line = std::string(payloadFormatName(payload.format)) + " " + o.payload->string() + ", ";
    if (payload.bytes.empty()) return line + "no bytes";
    return line + "addresses " + address(payload.start) + " to " + address(payload.start + payload.bytes.size() - 1) +
           " (" + std::to_string(payload.bytes.size()) + " bytes)";
}

std::vector<uint8_t> firmwareFrom(const BuildOptions& o, std::ostream& err, std::string& source) {
    if (o.payload) {
        const std::vector<uint8_t> file = readWholeFile(*o.payload);
        try {
            PayloadLayout layout = o.payloadLayout;
            // As many bytes as the most blocks of this block size; a block
            // size out of range is refused below, by the image header.
            const uint64_t blockSize = std::clamp<uint64_t>(o.header.blockSize, 1, kMaxBlockSize);
            layout.maxSize = uint64_t{kMaxBlockCount} * blockSize;
            const Payload payload = readPayload(file, o.payloadFormat, layout);
            source = "payload: " + payloadLine(o, payload);
            return buildFirmwareImage(o.header, payload.bytes);
        } catch (const std::invalid_argument& e) {
            throw std::runtime_error(o.payload->string() + ": " + e.what());
        } catch (const PayloadError& e) {
            throw std::runtime_error(o.payload->string() + ": " + e.what());
        }
    }
    source = "firmware image as given: " + o.image->string();
    std::vector<uint8_t> image = readWholeFile(*o.image);
    if (std::string problem = firmwareEngineProblem(image); !problem.empty()) {
        throw std::runtime_error(o.image->string() + ": " + problem);
    }
    const ImageHeaderView h = readImageHeader(image);
    if (h.headerCrc != h.headerCrcComputed) {
        err << "usb-iap-pack: warning: " << o.image->string() << ": header CRC 0x"
            << hexText(h.headerCrc, 4) << " does not hold (computed 0x" << hexText(h.headerCrcComputed, 4)
            << "); the device will likely refuse the image\n";
    }
    if (h.payloadCrc != h.payloadCrcComputed) {
        err << "usb-iap-pack: warning: " << o.image->string() << ": payload CRC 0x"
            << hexText(h.payloadCrc, 4) << " does not hold (computed 0x" << hexText(h.payloadCrcComputed, 4)
            << "); the device will likely refuse the image\n";
    }
    return image;
}

unsigned modeOf(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || status.permissions() == fs::perms::unknown) return 0755;
    return static_cast<unsigned>(status.permissions()) & 07777u;
}

// The output may be the executable it is made from (the tool replaced in
// place), never another input: that input would be replaced by the tool.
// Compared as files (device and inode), not by name.
void refuseOutputOverInputs(const BuildOptions& o) {
    std::vector<std::pair<std::string, fs::path>> inputs;
    if (o.payload) inputs.emplace_back("--payload", *o.payload);
    if (o.image) inputs.emplace_back("--image", *o.image);
    std::error_code ec;
    if (o.skinDir) {
        for (const fs::directory_entry& entry : fs::directory_iterator(*o.skinDir, ec)) {
            inputs.emplace_back("--skin", entry.path());
        }
    }
    for (const auto& [option, input] : inputs) {
        if (fs::equivalent(o.out, input, ec)) {
            throw std::runtime_error("--out " + o.out.string() + " is the same file as " + option + " " +
                                     input.string() + "; the tool would replace it");
        }
    }
}

// The bare tool installed with usb-iap-pack, for a build without --exe:
// IAP_INSTALLED_TOOL, relative to usb-iap-pack's own folder (the install
// layout: bin/ and lib/usb-iap-tools/ on Linux, one folder on Windows).
fs::path installedTool() {
    const fs::path self = currentExecutablePath();
    if (self.empty()) throw UsageError("--exe is required: where usb-iap-pack runs from is unknown");
    const fs::path tool = (self.parent_path() / IAP_INSTALLED_TOOL).lexically_normal();
    std::error_code ec;
    if (!fs::is_regular_file(tool, ec)) {
        throw UsageError("no --exe given, and there is no installed tool at " + tool.string() +
                         " (give --exe, the usb-iap-tool to append the package to)");
    }
    return tool;
}

}  // namespace

int buildCommand(BuildOptions o, std::ostream& out, std::ostream& err) {
    if (o.exe.empty()) {
        o.exe = installedTool();
        // The installed tool is what every product is made from: never its output.
        std::error_code ec;
        if (fs::equivalent(o.out, o.exe, ec)) {
            throw std::runtime_error("--out " + o.out.string() + " is the installed tool " + o.exe.string() +
                                     ", which products are made from; write the product elsewhere");
        }
    }
    refuseOutputOverInputs(o);
    const std::vector<uint8_t> exe = readWholeFile(o.exe);
    const size_t exeEnd = executableEnd(o, exe);

    Package package;
    package.settings = o.settings;
    std::string source;
    package.firmware = firmwareFrom(o, err, source);
    package.deviceIds = o.devices;
    package.colours = o.colours;
    package.images = o.skinDir ? readSkinFolder(*o.skinDir, err) : defaultSkinImages();

    std::vector<uint8_t> bytes;
    try {
        bytes = encodePackage(package, exeEnd);
    } catch (const std::length_error& e) {
        throw std::runtime_error(o.out.string() + ": " + e.what());
    }
    // Read the result back as the tool will before anything is written.
    std::vector<uint8_t> whole(exe.begin(), exe.begin() + static_cast<std::ptrdiff_t>(exeEnd));
    whole.insert(whole.end(), bytes.begin(), bytes.end());
    const PackageParse check = parsePackage(whole);
    if (!check.package) throw std::runtime_error("internal error: the new package does not read back: " + check.error);

    writeFileAtomically(o.out, {std::span<const uint8_t>(whole)}, modeOf(o.exe));

    const ImageHeaderView h = readImageHeader(package.firmware);
    out << "wrote " << o.out.string() << ": executable " << exeEnd << " bytes + package "
        << bytes.size() << " bytes\n"
        << "  " << source << "\n"
        << "  firmware " << package.firmware.size() << " bytes: " << h.actualPayloadLength
        << " payload bytes in " << blockCount(h.actualPayloadLength, h.blockSize)
        << " blocks of " << h.blockSize << "\n"
        << "  " << package.deviceIds.size() << " device ID(s), " << package.colours.size()
        << " colours, " << package.images.size() << " images ("
        << (o.skinDir ? o.skinDir->string() : std::string("built-in skin")) << ")\n";
    return 0;
}

// Where `build` finds the bare tool without --exe, for the help text.
#ifdef _WIN32
#define IAP_INSTALLED_TOOL_HELP "usb-iap-tool.exe in the folder of usb-iap-pack.exe"
#else
#define IAP_INSTALLED_TOOL_HELP \
    "<usb-iap-pack's folder>/" IAP_INSTALLED_TOOL " (/usr/lib/usb-iap-tools/usb-iap-tool from the Debian package)"
#endif

void addBuildCommand(CLI::App& app, CommandIo& io) {
    CLI::App* build = app.add_subcommand("build", "append a tool package to an executable and write the product tool");
    build->allow_extras();
    build->footer(
        "Without --exe the executable is the bare tool installed with usb-iap-pack:\n"
        "  " IAP_INSTALLED_TOOL_HELP ".\n"
        "Give exactly one of --payload and --image. Settings default to 3, 1000, 1000,\n"
        "8000 and 5000; colours 0-9 to the standard theme. A file that already carries\n"
        "a package is refused unless --replace is given; a code-signed one always is\n"
        "(build first, then sign the tool that build writes).");
    std::function<BuildOptions()> options = addBuildOptions(*build);
    build->callback([build, options, &io] {
        refuseExtras(*build);
        io.status = buildCommand(options(), io.out, io.err);
    });
}

}  // namespace iap::pack
