// `usb-iap-pack inspect`: prints a tool's package and checks it as the tool
// would when it starts.
#include <cstdio>
#include <string>

#include "bytes/firmware_image.h"
#include "bytes/hex.h"
#include "pack/file_io.h"
#include "pack/pack_commands.h"
#include "pack/pack_options.h"
#include "pack/pack_subcommand.h"
#include "package/authenticode.h"
#include "package/layout.h"
#include "package/package_format.h"
#include "package/image_decode.h"
#include "package/tool_version.h"

namespace iap::pack {

namespace {

// Header text as printed: bytes outside printable ASCII as \xNN.
std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x" + hexText(c, 2);
        }
    }
    return out;
}

std::string crcLine(uint16_t stored, uint16_t computed) {
    std::string line = "0x" + hexText(stored, 4);
    if (stored == computed) return line + " (holds)";
    return line + " (DOES NOT HOLD: computed 0x" + hexText(computed, 4) + ")";
}

std::string signatureLine(std::span<const uint8_t> bytes) {
    const std::optional<CertificateTable> table = certificateTable(bytes);
    if (!table) return "none";
    return "Authenticode certificate table, " + std::to_string(table->size) + " bytes at 0x" +
           hexText(table->offset, 8);
}

}  // namespace

int inspectCommand(const std::filesystem::path& path, std::ostream& out, std::ostream& err) {
    const std::string file = path.string();
    const std::vector<uint8_t> bytes = readWholeFile(file);
    const PackageParse parse = parsePackage(bytes);
    // The executable's version marker, looked for before the package only.
    const std::optional<uint32_t> trailer = trailerHeaderOffset(bytes);
    const size_t executableEnd = trailer && *trailer <= bytes.size() ? *trailer : bytes.size();
    const std::optional<std::string> version =
        findToolVersion(std::span<const uint8_t>(bytes).first(executableEnd));
    if (!parse.package) {
        err << "usb-iap-pack: " << file << ": no valid tool package: " << parse.error
            << (version ? " (the executable is a tool of version " + *version + ")" : std::string()) << "\n";
        return 1;
    }
    const Package& p = *parse.package;
    out << file << ": " << bytes.size() << " bytes, package header at " << *trailer << " (0x"
        << hexText(*trailer, 8) << ")\n"
        << "code signature: " << signatureLine(bytes) << "\n"
        << "tool version: " << (version ? *version : "unknown (no version marker in the executable)") << "\n";

    out << "settings:\n"
        << "  retryNum            " << p.settings.retryNum << "\n"
        << "  rebootDelay         " << p.settings.rebootDelay << "\n"
        << "  switchDelay         " << p.settings.switchDelay << "\n"
        << "  searchDeviceTimeout " << p.settings.searchDeviceTimeout << " ms\n"
        << "  readAckTimeout      " << p.settings.readAckTimeout << " ms\n";

    out << "device IDs (" << p.deviceIds.size() << "):\n";
    for (const DeviceIdEntry& id : p.deviceIds) {
        out << "  VID 0x" << hexText(id.vendorId, 4) << "  PID 0x" << hexText(id.productId, 4)
            << "  report ID 0x" << hexText(id.reportId, 2) << "\n";
    }

    out << "colours (" << p.colours.size() << "):\n";
    for (size_t i = 0; i < p.colours.size(); ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "  %zu: %g, %g, %g, %g\n", i, p.colours[i].r,
                      p.colours[i].g, p.colours[i].b, p.colours[i].a);
        out << line;
    }

    const ImageHeaderView h = readImageHeader(p.firmware);
    const uint64_t blocks = blockCount(h.actualPayloadLength, h.blockSize);
    const uint64_t lastBlock = h.actualPayloadLength - (blocks - 1) * h.blockSize;
    out << "firmware image: " << p.firmware.size() << " bytes\n"
        << "  signature         \"" << printable(h.signature) << "\"\n"
        << "  chip              \"" << printable(h.chip) << "\"\n"
        << "  item              \"" << printable(h.item) << "\"\n"
        << "  hardware version  \"" << printable(h.hwVersion) << "\"\n"
        << "  software version  \"" << printable(h.swVersion) << "\"\n"
        << "  device flags      0x" << hexText(h.deviceFlags, 4) << "\n"
        << "  device word       0x" << hexText(h.deviceWord, 8) << "\n"
        << "  block size        " << h.blockSize << "\n"
        << "  block count       " << h.blockCount << " stored, " << blocks << " to send (last "
        << lastBlock << " bytes)\n"
        << "  payload length    " << h.payloadLength << " stored, " << h.actualPayloadLength
        << " present\n"
        << "  payload CRC       " << crcLine(h.payloadCrc, h.payloadCrcComputed) << "\n"
        << "  header CRC        " << crcLine(h.headerCrc, h.headerCrcComputed) << "\n";

    int status = 0;
    const std::string cost = imagesCostProblem(p.images);
    out << "images (" << p.images.size() << "):\n";
    for (const PackageImage& image : p.images) {
        out << "  " << image.id << " " << imageLogName(static_cast<int32_t>(image.id)) << ": "
            << image.file.size() << " bytes, ";
        if (!cost.empty()) {
            // Over the caps nothing is decoded: the sizes are what the files say.
            const std::optional<ImageSize> size = imageFileSize(image.file);
            out << (size ? std::to_string(size->width) + "x" + std::to_string(size->height) : "not an image")
                << "\n";
            continue;
        }
        try {
            const DecodedImage decoded = decodeImage(image.file);
            out << decoded.width << "x" << decoded.height << "\n";
        } catch (const std::exception&) {
            out << "DOES NOT DECODE\n";
            status = 1;
        }
    }
    if (!cost.empty()) {
        err << "usb-iap-pack: " << file << ": " << cost << "; the tool would show \"File corruption!\"\n";
        return 1;
    }
    if (status != 0) {
        err << "usb-iap-pack: " << file
            << ": an image does not decode; the tool would show \"File corruption!\"\n";
    }
    return status;
}

void addInspectCommand(CLI::App& app, CommandIo& io) {
    CLI::App* inspect = app.add_subcommand("inspect", "print the package of FILE and check it as the tool would");
    inspect->allow_extras();
    auto file = std::make_shared<std::string>();
    inspect->add_option("FILE", *file, "a product tool (code-signed or not)");
    inspect->callback([inspect, file, &io] {
        if (inspect->count("FILE") != 1 || !inspect->remaining().empty()) {
            throw UsageError("inspect takes one argument: the file to inspect");
        }
        io.status = inspectCommand(*file, io.out, io.err);
    });
}

}  // namespace iap::pack
