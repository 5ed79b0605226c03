// Byte layout of the tool package appended to the executable: trailer,
// header, device ID table, colour table, image table, image files and the
// firmware image. The loader, the generator and the tests all read and write
// it through this module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/device_id.h"
#include "package/settings.h"
#include "package/skin.h"

namespace iap {

constexpr uint32_t kPackageMagic = 0x5F2C6AAC;  // stored as AC 6A 2C 5F
constexpr size_t kTrailerSize = 8;               // header offset, magic
constexpr size_t kHeaderSize = 52;               // thirteen u32 words
constexpr size_t kDeviceIdEntrySize = 5;         // VID, PID, report ID
constexpr size_t kColourEntrySize = 16;          // four floats r, g, b, a
constexpr size_t kImageEntrySize = 12;           // id, size, offset
constexpr int32_t kImageIdCount = 19;            // a complete skin: ids 0..18
constexpr size_t kMinColourCount = 7;            // colours the theme reads
constexpr size_t kDefaultColourCount = 10;

// Byte positions of the header words, relative to the header offset.
namespace package_header {
constexpr size_t kFirmwareOffset = 0;
constexpr size_t kFirmwareSize = 4;
constexpr size_t kDeviceIdCount = 8;
constexpr size_t kDeviceIdOffset = 12;
constexpr size_t kColourCount = 16;
constexpr size_t kColourOffset = 20;
constexpr size_t kImageCount = 24;
constexpr size_t kImageOffset = 28;
constexpr size_t kRetryNum = 32;
constexpr size_t kRebootDelay = 36;
constexpr size_t kSwitchDelay = 40;
constexpr size_t kSearchDeviceTimeout = 44;
constexpr size_t kReadAckTimeout = 48;
}  // namespace package_header

struct PackageImage {
    uint32_t id = 0;
    std::vector<uint8_t> file;  // a complete image file (BMP, PNG, ...)
};

// Everything a package holds.
struct Package {
    Settings settings;
    std::vector<uint8_t> firmware;
    std::vector<DeviceIdEntry> deviceIds;
    std::vector<Colour> colours;
    std::vector<PackageImage> images;  // in table order
};

// Where each section of an encoded package lies (absolute offsets).
struct PackageLayout {
    uint32_t headerOffset = 0;
    uint32_t firmwareOffset = 0;
    uint32_t deviceIdOffset = 0;
    uint32_t colourOffset = 0;
    uint32_t imageTableOffset = 0;
    std::vector<uint32_t> imageFileOffsets;
    uint32_t trailerOffset = 0;
};

// Encodes a package to be appended to an executable of executableSize bytes:
// header, firmware, device IDs, colours, image table, image files, trailer,
// with no gaps. Throws std::length_error when the file would pass 4 GiB.
std::vector<uint8_t> encodePackage(const Package& package, uint64_t executableSize,
                                   PackageLayout* layout = nullptr);

// The header offset when the file ends in a package trailer (magic present),
// whether or not the rest of the package is sound. In a code-signed tool the
// trailer is the one before the certificate table (package/authenticode.h);
// parsePackage reads it the same way.
std::optional<uint32_t> trailerHeaderOffset(std::span<const uint8_t> file);

struct PackageParse {
    std::optional<Package> package;  // set when the package is sound
    std::string error;               // why not, otherwise
    bool hasMagic = false;           // the file ends in the package magic
};

// Reads and checks the package at the end of a file. Every offset, count and
// size is checked against the file before it is used, and a package is
// refused when it lacks one of the images 0..18, holds fewer than 7 colours,
// carries a firmware image the upgrade engine cannot take, or a time-out
// that reads as negative (settingsProblem). Image files are
// copied but not decoded. Never reads outside the span.
PackageParse parsePackage(std::span<const uint8_t> file);

}  // namespace iap
