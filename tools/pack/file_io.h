// Whole-file reads and all-or-nothing writes for the package generator.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace iap::pack {

// Throws std::runtime_error naming the file when it cannot be read.
std::vector<uint8_t> readFile(const std::filesystem::path& path);

// Writes the parts to a temporary file beside path, then renames it over
// path, so path holds either its old content or the whole new one. The new
// file gets the permission bits `mode`. Throws std::runtime_error naming the
// file; the temporary file is removed on failure.
void writeFileAtomically(const std::filesystem::path& path,
                         const std::vector<std::span<const uint8_t>>& parts, unsigned mode);

}  // namespace iap::pack
