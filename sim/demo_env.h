// The demo programs' settings from the environment (only they read them).
#pragma once

#include <cstdlib>

namespace iap::sim {

// The variable's whole value as a number from lo to hi; fallback when it is
// unset, empty or anything else.
inline long envNumber(const char* name, long fallback, long lo, long hi) {
    const char* value = std::getenv(name);
    if (!value || !*value) return fallback;
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    if (*end != '\0' || n < lo || n > hi) return fallback;
    return n;
}

}  // namespace iap::sim
