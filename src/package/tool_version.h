// The version of the programs, and how a tool file carries it: the marker
// "USB-IAP-TOOL-VERSION:<version>", a NUL-terminated string in the
// executable's read-only data, outside the package format. The version
// itself comes from the project's CMake project() (project_version.h is
// generated from it).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace iap {

// "1.0.0": the version of this program. Read from the marker, so that every
// program that records or prints its version carries the marker.
std::string_view toolVersion();

// The version in the first well-formed marker of an executable's bytes (the
// bytes before its package: a firmware image may hold any text). A version
// is 1 to 32 characters of letters, digits and ".+~-", ended by a NUL.
std::optional<std::string> findToolVersion(std::span<const uint8_t> executable);

}  // namespace iap
