#include "bytes/wide_text.h"

#include <cstdint>

namespace iap {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::wstring wideFromUtf8(std::string_view utf8) {
    std::wstring out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        bool valid = length != 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<uint8_t>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && c >= kSmallest[length] && c <= 0x10FFFF && !isSurrogate(c);
        appendWide(out, valid ? c : kReplacement);
        i += valid ? length : 1;
    }
    return out;
}

std::string utf8FromWide(std::wstring_view wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char32_t>(wide[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
                const auto low = static_cast<char32_t>(wide[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        appendUtf8(out, (isSurrogate(c) || c > 0x10FFFF) ? kReplacement : c);
    }
    return out;
}

}  // namespace iap
