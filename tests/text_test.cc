// The conversions at the seam, the same table in both builds: the strict
// conversion to the code page (936 on the test machines) and UTF-8 read with
// one U+FFFD per maximal subpart.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::platform {
namespace {

TEST(StrictAnsi, WhatTheCodePageHoldsAndWhatItDoesNot) {
    const struct {
        std::u16string text;
        std::optional<std::string> bytes;
    } cases[] = {
        {u"", ""},
        {u"abc?", "abc?"},                               // a '?' of its own is kept
        {u"用户", "\xd3\xc3\xbb\xa7"},
        {u"€ü", "\x80\xa8\xb9"},                          // Latin letters of the pinyin tables are there
        {u"a\U0001F600", std::nullopt},                  // outside the BMP
        {u"한국", std::nullopt},
        {u"\u00e4", std::nullopt},                       // best fit would make it "a"
        {u"x\u0e01", std::nullopt},
        {std::u16string(u"a") + char16_t(0xD83D), std::nullopt},  // lone surrogates
        {std::u16string(1, char16_t(0xDE00)) + u"b", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TryToAnsi(c.text), c.bytes) << testing::PrintToString(c.text);
        // What is held converts as ToAnsi converts it.
        if (c.bytes) {
            EXPECT_EQ(ToAnsi(c.text), *c.bytes);
        }
    }
    // The lenient conversion still answers, with '?' in place.
    EXPECT_EQ(ToAnsi(u"x\u0e01"), "x?");
}

TEST(Utf8, MalformedInputGivesOneReplacementPerMaximalSubpart) {
    const std::u16string r(1, u'\uFFFD');
    const struct {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        // a prefix no character can have: one per byte
        {"\xE0\x8A", r + r},
        {"\xC0\x80", r + r},
        {"\xC0\xAF", r + r},
        {"\xED\xA0\x80", r + r + r},
        {"\xF4\x90\x80\x80", r + r + r + r},
        {"\xF5\x80", r + r},
        {"\x80\xBF", r + r},
        {"\xFF" "a", r + u"a"},
        // a valid beginning cut short: one for all of it
        {"\xE4\xB8" "a", r + u"a"},
        {"\xE4\xB8", r},
        {"\xF0\x9F\x98", r},
        {"\xE1\x80\x41", r + u"A"},
        // the Unicode Standard's example
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", u"a" + r + r + r + u"b" + r + u"c" + r + r + u"d"},
        // the edges of what is well formed
        {"\xC2\x80", u"\u0080"},
        {"\xE0\xA0\x80", u"\u0800"},
        {"\xED\x9F\xBF", u"\uD7FF"},
        {"\xEF\xBF\xBD", r},
        {"\xF0\x90\x80\x80", u"\U00010000"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    };
    for (const auto& c : cases) EXPECT_EQ(FromUtf8(c.bytes), c.text) << testing::PrintToString(c.bytes);

    const std::string text = "错误 a \xF0\x9F\x98\x80";
    EXPECT_EQ(ToUtf8(FromUtf8(text)), text);
}

TEST(Utf16, SurrogatesMustBePaired) {
    EXPECT_TRUE(IsWellFormedUtf16(u""));
    EXPECT_TRUE(IsWellFormedUtf16(u"a\U0001F600b"));
    EXPECT_FALSE(IsWellFormedUtf16(std::u16string(u"a") + char16_t(0xD83D)));
    EXPECT_FALSE(IsWellFormedUtf16(std::u16string(1, char16_t(0xDE00)) + u"a"));
    EXPECT_FALSE(IsWellFormedUtf16(std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}));
    // What ToUtf8 does with one: U+FFFD.
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorvel::platform
