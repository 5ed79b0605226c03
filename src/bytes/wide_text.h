// UTF-8 to and from the system's wide strings: UTF-16 where wchar_t has 16
// bits (Windows), UTF-32 where it has 32 (Linux). Malformed input becomes
// U+FFFD; nothing is dropped silently and nothing reads past the text.
#pragma once

#include <string>
#include <string_view>

namespace iap {

std::wstring wideFromUtf8(std::string_view utf8);
std::string utf8FromWide(std::wstring_view wide);
// A null pointer is an empty text.
inline std::string utf8FromWide(const wchar_t* wide) {
    return wide ? utf8FromWide(std::wstring_view(wide)) : std::string();
}

}  // namespace iap
