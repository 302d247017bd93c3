// Command lines split as Windows programs split them.
#include <gtest/gtest.h>

#include "platform/posix/command_line.h"

namespace quorvel::posix {
namespace {

using Args = std::vector<std::u16string>;

TEST(SplitCommandLine, BlanksSeparateAndQuotesGroup) {
    EXPECT_EQ(SplitCommandLine(u"cmd /c echo y| CACLS d:\\web\\site1 /t /e /p u1:C"),
              (Args{u"cmd", u"/c", u"echo", u"y|", u"CACLS", u"d:\\web\\site1", u"/t", u"/e", u"/p", u"u1:C"}));
    EXPECT_EQ(SplitCommandLine(u"  a\t b   c  "), (Args{u"a", u"b", u"c"}));
    EXPECT_EQ(SplitCommandLine(u"a \"d:\\my web\" x\"y z\"w \"\""), (Args{u"a", u"d:\\my web", u"xy zw", u""}));
    EXPECT_EQ(SplitCommandLine(u""), Args{});
    EXPECT_EQ(SplitCommandLine(u"   "), Args{});
    EXPECT_EQ(SplitCommandLine(u"a \"open to the end"), (Args{u"a", u"open to the end"}));
    EXPECT_EQ(SplitCommandLine(u"程序 用户:C"), (Args{u"程序", u"用户:C"}));
}

TEST(SplitCommandLine, BackslashesCountOnlyBeforeAQuote) {
    EXPECT_EQ(SplitCommandLine(u"p a\\\\b\\c"), (Args{u"p", u"a\\\\b\\c"}));
    EXPECT_EQ(SplitCommandLine(u"p a\\\"b"), (Args{u"p", u"a\"b"}));            // 1: literal quote
    EXPECT_EQ(SplitCommandLine(u"p \"a\\\\\" b"), (Args{u"p", u"a\\", u"b"}));  // 2: one, quote ends
    EXPECT_EQ(SplitCommandLine(u"p a\\\\\\\"b"), (Args{u"p", u"a\\\"b"}));      // 3: one and a quote
    EXPECT_EQ(SplitCommandLine(u"p \"d:\\web\\\""), (Args{u"p", u"d:\\web\""}));
    EXPECT_EQ(SplitCommandLine(u"p \"a\"\"b\" c"), (Args{u"p", u"a\"b", u"c"}));
}

TEST(SplitCommandLine, TheProgramNameKeepsItsBackslashes) {
    EXPECT_EQ(SplitCommandLine(u"\"C:\\Program Files\\x.exe\" a"), (Args{u"C:\\Program Files\\x.exe", u"a"}));
    EXPECT_EQ(SplitCommandLine(u"C:\\tools\\\" a"), (Args{u"C:\\tools\\\"", u"a"}));
}

}  // namespace
}  // namespace quorvel::posix
