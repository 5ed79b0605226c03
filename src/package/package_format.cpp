#include "package/package_format.h"

#include <bit>
#include <set>
#include <stdexcept>

#include "bytes/byte_order.h"
#include "bytes/firmware_image.h"
#include "bytes/hex.h"
#include "package/authenticode.h"

namespace iap {

namespace {

constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

uint32_t checkedOffset(uint64_t offset) {
    if (offset > kMaxFileSize) {
        throw std::length_error("the tool with its package would pass 4 GiB");
    }
    return static_cast<uint32_t>(offset);
}

void appendFloat(std::vector<uint8_t>& out, float value) {
    appendU32(out, std::bit_cast<uint32_t>(value));
}

float loadFloat(const uint8_t* p) { return std::bit_cast<float>(loadU32(p)); }

// True when [offset, offset + count * entrySize) lies inside [0, limit).
bool fits(uint64_t offset, uint64_t count, uint64_t entrySize, uint64_t limit) {
    if (offset > limit) return false;
    if (entrySize != 0 && count > (limit - offset) / entrySize) return false;
    return true;
}

}  // namespace

std::vector<uint8_t> encodePackage(const Package& package, uint64_t executableSize,
                                   PackageLayout* layoutOut) {
    PackageLayout layout;
    uint64_t at = executableSize;
    layout.headerOffset = checkedOffset(at);
    at += kHeaderSize;
    layout.firmwareOffset = checkedOffset(at);
    at += package.firmware.size();
    layout.deviceIdOffset = checkedOffset(at);
    at += package.deviceIds.size() * kDeviceIdEntrySize;
    layout.colourOffset = checkedOffset(at);
    at += package.colours.size() * kColourEntrySize;
    layout.imageTableOffset = checkedOffset(at);
    at += package.images.size() * kImageEntrySize;
    for (const PackageImage& image : package.images) {
        layout.imageFileOffsets.push_back(checkedOffset(at));
        at += image.file.size();
    }
    layout.trailerOffset = checkedOffset(at);
    checkedOffset(at + kTrailerSize);

    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(at + kTrailerSize - executableSize));
    const Settings& s = package.settings;
    for (uint32_t word :
         {layout.firmwareOffset, static_cast<uint32_t>(package.firmware.size()),
          static_cast<uint32_t>(package.deviceIds.size()), layout.deviceIdOffset,
          static_cast<uint32_t>(package.colours.size()), layout.colourOffset,
          static_cast<uint32_t>(package.images.size()), layout.imageTableOffset, s.retryNum,
          s.rebootDelay, s.switchDelay, s.searchDeviceTimeout, s.readAckTimeout}) {
        appendU32(out, word);
    }
    out.insert(out.end(), package.firmware.begin(), package.firmware.end());
    for (const DeviceIdEntry& id : package.deviceIds) {
        appendU16(out, id.vendorId);
        appendU16(out, id.productId);
        out.push_back(id.reportId);
    }
    for (const Colour& c : package.colours) {
        appendFloat(out, c.r);
        appendFloat(out, c.g);
        appendFloat(out, c.b);
        appendFloat(out, c.a);
    }
    for (size_t i = 0; i < package.images.size(); ++i) {
        appendU32(out, package.images[i].id);
        appendU32(out, static_cast<uint32_t>(package.images[i].file.size()));
        appendU32(out, layout.imageFileOffsets[i]);
    }
    for (const PackageImage& image : package.images) {
        out.insert(out.end(), image.file.begin(), image.file.end());
    }
    appendU32(out, layout.headerOffset);
    appendU32(out, kPackageMagic);
    if (layoutOut) *layoutOut = std::move(layout);
    return out;
}

std::optional<uint32_t> trailerHeaderOffset(std::span<const uint8_t> file) {
    file = packageSpan(file);
    if (file.size() < kTrailerSize) return std::nullopt;
    const uint8_t* trailer = file.data() + file.size() - kTrailerSize;
    if (loadU32(trailer + 4) != kPackageMagic) return std::nullopt;
    return loadU32(trailer);
}

PackageParse parsePackage(std::span<const uint8_t> file) {
    namespace h = package_header;
    PackageParse result;
    if (file.size() < kTrailerSize) {
        result.error = "file of " + std::to_string(file.size()) +
                       " bytes is too short to hold a package trailer";
        return result;
    }
    const std::optional<uint32_t> headerOffset = trailerHeaderOffset(file);
    if (!headerOffset) {
        result.error = "no package: the file does not end in the package magic";
        return result;
    }
    result.hasMagic = true;
    // Every section must lie before the trailer (in a code-signed tool, the
    // trailer before the certificate table).
    file = packageSpan(file);
    const uint64_t limit = file.size() - kTrailerSize;
    if (!fits(*headerOffset, 1, kHeaderSize, limit)) {
        result.error = "header offset 0x" + hexText(*headerOffset) +
                       " leaves no room for the 52-byte package header";
        return result;
    }
    const uint8_t* header = file.data() + *headerOffset;
    auto word = [header](size_t position) { return loadU32(header + position); };

    Package package;
    package.settings.retryNum = word(h::kRetryNum);
    package.settings.rebootDelay = word(h::kRebootDelay);
    package.settings.switchDelay = word(h::kSwitchDelay);
    package.settings.searchDeviceTimeout = word(h::kSearchDeviceTimeout);
    package.settings.readAckTimeout = word(h::kReadAckTimeout);
    if (std::string problem = settingsProblem(package.settings); !problem.empty()) {
        result.error = problem;
        return result;
    }

    const uint32_t firmwareOffset = word(h::kFirmwareOffset);
    const uint32_t firmwareSize = word(h::kFirmwareSize);
    if (!fits(firmwareOffset, firmwareSize, 1, limit)) {
        result.error = "firmware image (" + std::to_string(firmwareSize) + " bytes at " +
                       "0x" + hexText(firmwareOffset) + ") runs past the end of the package";
        return result;
    }
    const uint32_t deviceIdCount = word(h::kDeviceIdCount);
    const uint32_t deviceIdOffset = word(h::kDeviceIdOffset);
    if (!fits(deviceIdOffset, deviceIdCount, kDeviceIdEntrySize, limit)) {
        result.error = "device ID table (" + std::to_string(deviceIdCount) + " entries at " +
                       "0x" + hexText(deviceIdOffset) + ") runs past the end of the package";
        return result;
    }
    const uint32_t colourCount = word(h::kColourCount);
    const uint32_t colourOffset = word(h::kColourOffset);
    if (!fits(colourOffset, colourCount, kColourEntrySize, limit)) {
        result.error = "colour table (" + std::to_string(colourCount) + " entries at " +
                       "0x" + hexText(colourOffset) + ") runs past the end of the package";
        return result;
    }
    if (colourCount < kMinColourCount) {
        result.error = "colour table holds " + std::to_string(colourCount) +
                       " colours; at least 7 are needed";
        return result;
    }
    const uint32_t imageCount = word(h::kImageCount);
    const uint32_t imageOffset = word(h::kImageOffset);
    if (!fits(imageOffset, imageCount, kImageEntrySize, limit)) {
        result.error = "image table (" + std::to_string(imageCount) + " entries at " +
                       "0x" + hexText(imageOffset) + ") runs past the end of the package";
        return result;
    }
    // Check the image entries before copying anything large.
    std::set<uint32_t> ids;
    uint64_t totalImageBytes = 0;
    for (uint32_t i = 0; i < imageCount; ++i) {
        const uint8_t* entry = file.data() + imageOffset + uint64_t{i} * kImageEntrySize;
        const uint32_t id = loadU32(entry);
        const uint32_t size = loadU32(entry + 4);
        const uint32_t offset = loadU32(entry + 8);
        if (!fits(offset, size, 1, limit)) {
            result.error = "image " + std::to_string(id) + " (" + std::to_string(size) +
                           " bytes at 0x" + hexText(offset) + ") runs past the end of the package";
            return result;
        }
        // Image files of a sound package do not overlap, so together they
        // cannot be larger than the file; this bounds what is copied.
        totalImageBytes += size;
        if (totalImageBytes > limit) {
            result.error = "image files together are larger than the package";
            return result;
        }
        ids.insert(id);
    }
    for (uint32_t id = 0; id < static_cast<uint32_t>(kImageIdCount); ++id) {
        if (!ids.count(id)) {
            result.error = "image " + std::to_string(id) + " is missing; images 0 to 18 are needed";
            return result;
        }
    }
    const std::span<const uint8_t> firmware = file.subspan(firmwareOffset, firmwareSize);
    if (std::string problem = firmwareEngineProblem(firmware); !problem.empty()) {
        result.error = problem;
        return result;
    }

    package.firmware.assign(firmware.begin(), firmware.end());
    package.deviceIds.reserve(deviceIdCount);
    for (uint32_t i = 0; i < deviceIdCount; ++i) {
        const uint8_t* entry = file.data() + deviceIdOffset + uint64_t{i} * kDeviceIdEntrySize;
        DeviceIdEntry id;
        id.vendorId = loadU16(entry);
        id.productId = loadU16(entry + 2);
        id.reportId = entry[4];
        package.deviceIds.push_back(id);
    }
    package.colours.reserve(colourCount);
    for (uint32_t i = 0; i < colourCount; ++i) {
        const uint8_t* entry = file.data() + colourOffset + uint64_t{i} * kColourEntrySize;
        package.colours.push_back(
            {loadFloat(entry), loadFloat(entry + 4), loadFloat(entry + 8), loadFloat(entry + 12)});
    }
    package.images.reserve(imageCount);
    for (uint32_t i = 0; i < imageCount; ++i) {
        const uint8_t* entry = file.data() + imageOffset + uint64_t{i} * kImageEntrySize;
        const std::span<const uint8_t> bytes = file.subspan(loadU32(entry + 8), loadU32(entry + 4));
        package.images.push_back({loadU32(entry), {bytes.begin(), bytes.end()}});
    }
    result.package = std::move(package);
    return result;
}

}  // namespace iap
