// UTF-8 and the system's wide strings, both ways: characters outside the
// basic plane (a surrogate pair where wchar_t is 16 bits), and malformed
// input replaced, never dropped or read past.
#include <gtest/gtest.h>

#include "bytes/wide_text.h"

namespace iap {
namespace {

TEST(WideText, RoundTripsEveryPlaneAndReplacesWhatIsMalformed) {
    const std::string text = "SN-\xE4\xB8\xAD\xE6\x96\x87-\xF0\x9F\x94\x8C-\xC3\xA9";  // 中文, U+1F50C, é
    const std::wstring wide = wideFromUtf8(text);
    EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 10u : 9u);  // 9 characters, one of them a pair in UTF-16
    EXPECT_EQ(utf8FromWide(wide), text);
    EXPECT_EQ(utf8FromWide(static_cast<const wchar_t*>(nullptr)), "");

    const struct {
        std::string in;
        std::string out;
    } malformed[] = {
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},        // not a lead byte
        {"\xE4\xB8", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // cut short at the end
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong "/"
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate in UTF-8
    };
    for (const auto& m : malformed) EXPECT_EQ(utf8FromWide(wideFromUtf8(m.in)), m.out) << m.in;
    if constexpr (sizeof(wchar_t) == 2) {
        const wchar_t lone[] = {L'x', static_cast<wchar_t>(0xD83D), L'y', 0};  // high surrogate alone
        EXPECT_EQ(utf8FromWide(lone), "x\xEF\xBF\xBDy");
    }
}

}  // namespace
}  // namespace iap
