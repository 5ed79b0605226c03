// The fleet's time stamps: UTC, ISO 8601 with milliseconds,
// "2026-12-09T22:02:06.123Z".
#pragma once

#include <chrono>
#include <string>

namespace iap::fleet {

std::string utcTime(std::chrono::system_clock::time_point time = std::chrono::system_clock::now());

}  // namespace iap::fleet
