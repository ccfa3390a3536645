// ANSI text (UTF-8 here) and UTF-16.

#include "platform/text/text.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// These cases give UTF-8 bytes, the ANSI code page on Linux; on Windows they apply only where
// the ANSI code page is UTF-8.
#if defined(_WIN32)
#define KESTREL_SKIP_UNLESS_ANSI_IS_UTF8()                                                         \
    if (GetACP() != CP_UTF8)                                                                       \
    GTEST_SKIP() << "the ANSI code page of this Windows is " << GetACP() << ", not UTF-8"
#else
#define KESTREL_SKIP_UNLESS_ANSI_IS_UTF8()
#endif

using kestrel::platform::AnsiToUtf16;
using kestrel::platform::Utf16ToAnsi;

TEST(Text, RoundTripsEveryPlane) {
    KESTREL_SKIP_UNLESS_ANSI_IS_UTF8();
    const std::string text = "D:\\demo/\xC3\xA9t\xC3\xA9 \xE6\xBC\xA2 \xF0\x9F\x98\x80";
    const std::u16string wide = AnsiToUtf16(text);
    EXPECT_EQ(wide, u"D:\\demo/\u00e9t\u00e9 \u6f22 \U0001F600");
    EXPECT_EQ(Utf16ToAnsi(wide), text);
}

TEST(Text, InvalidInputIsReplacedNotDropped) {
    KESTREL_SKIP_UNLESS_ANSI_IS_UTF8();
    // A stray continuation byte, an overlong '/', a truncated sequence, an encoded surrogate.
    EXPECT_EQ(AnsiToUtf16("a\x80"
                          "b\xC0\xAF"
                          "c\xE6\xBC"),
              u"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD");
    EXPECT_EQ(AnsiToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00, 0};
    EXPECT_EQ(Utf16ToAnsi(lone), "x?y?");
}

} // namespace
