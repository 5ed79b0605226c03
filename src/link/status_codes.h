// Device status codes (response byte 1) and their user-facing messages.
#pragma once

#include <string>

namespace iap {

// "success!" for 0, the fixed message of each known code, "unknown error"
// for every other value (including values above 0xFF).
std::string statusMessage(unsigned code);

}  // namespace iap
