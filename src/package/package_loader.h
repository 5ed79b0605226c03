// Loads the tool package appended to the running executable: the window's
// whole application state, or only what an upgrade needs (usb-iap-flash).
// Both take a package under one rule for "usable": it parses, its images are
// within the decoding caps, and every image decodes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "package/app_state.h"
#include "package/texture.h"
#include "package/trust.h"
#include "package/upgrade_content.h"

namespace iap {

// The file of the running executable, which holds even when the tool was
// started by a bare or relative name (argv[0] names no file then): on Linux
// the target of /proc/self/exe, on Windows GetModuleFileNameW of the process,
// a wide path (a folder with a Chinese name stays readable). Empty when it
// cannot be had, so that the caller falls back on argv[0].
#ifdef _WIN32
std::filesystem::path currentExecutablePath();
#else
std::filesystem::path currentExecutablePath(const std::filesystem::path& selfLink = "/proc/self/exe");
#endif

// Reads the package appended to state.executablePath. The diagnostics get
// "exe size:%d", the quoted path ("..." with backslash escapes), and for a
// loaded package the five settings lines; a package that is not loaded (the
// file cannot be read, or holds no usable package) is a warning with the
// reason. On success fills the firmware, device IDs, colours, settings and
// one texture per image entry (a later entry of the same id replaces the
// earlier one) and returns true. A missing, damaged or incomplete package,
// or an image that does not decode, leaves firmware, device IDs, textures and
// settings untouched and returns false; the colours are then the ten
// defaults. The layout map is set to the layout table in both cases.
// With trust configured, a package that is unsigned, signed by a key not
// trusted, or changed after signing is not loaded either; the reason names
// which (checkTrust). Without trust a package loads as it always did.
// signer is the fingerprint of a valid signature's key, or empty. problem,
// when given, receives why the package was not loaded.
// Throws std::filesystem::filesystem_error ("file_size") when the file's
// size cannot be determined.
bool LoadPackage(AppState& state, const TextureMaker& makeTexture, const TrustedKeys& trust = {},
                 std::string* problem = nullptr);

// Reads the package appended to file as LoadPackage does, with the same
// diagnostics, and fills content (executablePath, firmware, device IDs,
// settings) from a usable one; the images are decoded one at a time and
// dropped, no texture is made. Returns why the package cannot be used
// (content untouched), empty when it was loaded. Throws as LoadPackage.
std::string LoadUpgradeContent(const std::filesystem::path& file, UpgradeContent& content,
                               const TrustedKeys& trust = {});

}  // namespace iap
