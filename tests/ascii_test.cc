// ASCII case, the one fold every name comparison of the tree goes through:
// letters A to Z only, never a byte of a double-byte character, a letter of
// another script or a full-width letter; and hexadecimal digits.
#include <gtest/gtest.h>

#include <string>

#include "base/ascii.h"

namespace quorvel::base {
namespace {

TEST(Ascii, FoldsOnlyTheAsciiLetters) {
    EXPECT_EQ(ToUpperAscii(u"ServUDaemon.ini 用户 é ｓ"), u"SERVUDAEMON.INI 用户 é ｓ");
    EXPECT_EQ(ToLowerAscii(u"CLSID\\{AB-Cd} É Ｓ"), u"clsid\\{ab-cd} É Ｓ");
    // The neighbours of the letters stay: @ [ ` { are one away from A, Z, a, z.
    EXPECT_EQ(ToUpperAscii("@AZ[`az{"), "@AZ[`AZ{");
    EXPECT_EQ(ToLowerAscii("@AZ[`az{"), "@az[`az{");
    // "用" in GBK is D3 C3; Latin-1 letters are C0 to FE.
    EXPECT_EQ(ToUpperAscii("\xd3\xc3\xc9\xe9z"), "\xd3\xc3\xc9\xe9Z");
    static_assert(ToUpperAscii('q') == 'Q' && ToLowerAscii(u'Q') == u'q' && ToUpperAscii(u'1') == u'1');
}

TEST(Ascii, EqualityIgnoresTheCaseOfAsciiLettersOnly) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase("Program.EXE", "program.exe"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase(u"#TRUE#", u"#true#"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase(u"", u""));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(u"true", u"tru"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(u"tru", u"true"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(u"É", u"é"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(u"Ａ", u"ａ"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("@", "`"));  // 0x40 and 0x60 differ by the case bit
    EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));
}

TEST(Ascii, HexDigitsOfEitherCaseAndNothingBesideThem) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue(u'F'), 15);
    for (const char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\xb0', '\xc1'}) EXPECT_EQ(HexDigitValue(c), -1) << int(c);
    // A full-width digit or letter is no hexadecimal digit.
    EXPECT_EQ(HexDigitValue(u'１'), -1);
    EXPECT_EQ(HexDigitValue(u'Ａ'), -1);
}

}  // namespace
}  // namespace quorvel::base
