// ASCII character classes and comparisons that ignore case, the same in
// every locale: device paths, port chains, location paths, version texts.
#pragma once

#include <cstddef>
#include <string_view>

namespace iap {

inline bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// A letter, a digit or "_".
inline bool isWordChar(char c) { return isAsciiDigit(c) || isAsciiLetter(c) || c == '_'; }
// True when text is not empty and every character is of the class.
inline bool allOf(std::string_view text, bool (*inClass)(char)) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!inClass(c)) return false;
    }
    return true;
}

inline char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    }
    return true;
}

// The first position of token in text, compared without regard to case;
// npos when absent.
inline size_t findNoCase(std::string_view text, std::string_view token) {
    for (size_t i = 0; i + token.size() <= text.size(); ++i) {
        if (equalsNoCase(text.substr(i, token.size()), token)) return i;
    }
    return std::string_view::npos;
}

}  // namespace iap
