// Upper-case hexadecimal text of a number.
#pragma once

#include <cstdint>
#include <string>

namespace iap {

// At least `digits` digits, zero-padded; no prefix ("1A2B", "00FF").
inline std::string hexText(uint64_t value, int digits = 1) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
    return text;
}

}  // namespace iap
