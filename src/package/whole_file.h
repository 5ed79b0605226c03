// Whole-file reads, byte for byte: the tool file with its package, and the
// generator's inputs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace iap {

// "<path>: <what>: <strerror(error)>".
std::runtime_error fileError(const std::filesystem::path& path, const std::string& what, int error);

// The file's bytes. Throws std::runtime_error naming the file when it cannot
// be read ("<path>: cannot open: Permission denied", "<path>: is a directory").
std::vector<uint8_t> readWholeFile(const std::filesystem::path& path);

}  // namespace iap
