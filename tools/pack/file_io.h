// All-or-nothing writes for the package generator (whole-file reads:
// package/whole_file.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "package/whole_file.h"

namespace iap::pack {

// Writes the parts to a temporary file beside path, then renames it over
// path, so path holds either its old content or the whole new one. The new
// file gets the permission bits `mode` (POSIX; Windows has none to give).
// Throws std::runtime_error naming the file; the temporary file is removed
// on failure. file_io_posix.cpp: mkstemp, fsync, rename; file_io_win32.cpp:
// a unique name, FlushFileBuffers, MoveFileExW(MOVEFILE_REPLACE_EXISTING).
void writeFileAtomically(const std::filesystem::path& path,
                         const std::vector<std::span<const uint8_t>>& parts, unsigned mode);

}  // namespace iap::pack
