#include "package/tool_version.h"

#include <algorithm>

#include "bytes/ascii.h"
#include "project_version.h"

namespace iap {

namespace {

#define IAP_VERSION_MARKER_PREFIX "USB-IAP-TOOL-VERSION:"
constexpr std::string_view kMarkerPrefix = IAP_VERSION_MARKER_PREFIX;
constexpr size_t kMaxVersionLength = 32;

}  // namespace

// One object of external linkage that toolVersion() reads: neither the
// compiler nor the linker can leave it out of a program that asks for its
// version, and strip keeps it (it is data, not a symbol).
extern const char kToolVersionMarker[];
[[gnu::used]] const char kToolVersionMarker[] = IAP_VERSION_MARKER_PREFIX IAP_PROJECT_VERSION;

std::string_view toolVersion() {
    return std::string_view(kToolVersionMarker).substr(kMarkerPrefix.size());
}

std::optional<std::string> findToolVersion(std::span<const uint8_t> executable) {
    const auto isVersionChar = [](uint8_t byte) {
        const char c = static_cast<char>(byte);
        return isAsciiDigit(c) || isAsciiLetter(c) || c == '.' || c == '+' || c == '~' || c == '-';
    };
    auto from = executable.begin();
    for (;;) {
        const auto at = std::search(from, executable.end(), kMarkerPrefix.begin(), kMarkerPrefix.end());
        if (at == executable.end()) return std::nullopt;
        const auto start = at + static_cast<std::ptrdiff_t>(kMarkerPrefix.size());
        auto end = start;
        while (end != executable.end() && isVersionChar(*end) &&
               static_cast<size_t>(end - start) <= kMaxVersionLength) {
            ++end;
        }
        const size_t length = static_cast<size_t>(end - start);
        if (end != executable.end() && *end == 0 && length >= 1 && length <= kMaxVersionLength) {
            return std::string(start, end);
        }
        from = at + 1;
    }
}

}  // namespace iap
