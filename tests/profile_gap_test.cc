// Closing the gap of a numbered list in one pass must leave exactly the bytes
// that the key-by-key sequence leaves, on every file: the one-pass close is
// run beside the sequence on crafted lists and the files are compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "profile/engine/profile_engine.h"
#include "profile/profile.h"
#include "support/profile.h"
#include "support/strings.h"
#include "test_support.h"

namespace quorvel {
namespace {

using test::ReadBytes;
using test::WriteBytes;

constexpr std::int32_t kLast = 999;

std::string List(int from, int to, const std::string& eol = "\r\n") {
    std::string out;
    for (int k = from; k <= to; ++k) out += "User" + std::to_string(k) + "=u" + std::to_string(k) + "|1|0" + eol;
    return out;
}

struct Case {
    const char* what;
    std::string file;
    bool regular;  // the one-pass close applies (when the deleted entry is one of the list's)
};

std::vector<Case> Cases() {
    const std::string head = "[GLOBAL]\r\nVersion=1\r\n[Domain1]\r\n";
    const std::string tail = "[USER=u1|1]\r\nPassword=x\r\n";
    return {
        {"a plain list", head + List(1, 6) + tail, true},
        {"blank lines end the section", head + List(1, 6) + "\r\n  \r\n" + tail, true},
        {"other keys and a comment after the list", head + List(1, 5) + "Extra=1\r\n;note\r\n\r\n" + tail, true},
        {"blank lines and comments inside", head + List(1, 2) + "\r\n;c\r\n" + List(3, 5) + tail, true},
        {"out of order", head + "User3=c|1|0\r\nUser1=a|1|0\r\nUser4=d|1|0\r\nUser2=b|1|0\r\n" + tail, true},
        {"LF endings", "[Domain1]\n" + List(1, 5, "\n") + "[x]\n", true},
        {"CR endings", "[Domain1]\r" + List(1, 5, "\r") + "[x]\r", true},
        {"unterminated last line", head + List(1, 4) + "User5=u5|1|0", true},
        {"unterminated blank last line", head + List(1, 4) + "   ", true},
        {"spacing around names and values", head + "  User1 =  a|1|0  \r\nUser2\t= b|1|0\r\nUser3=c|1|0\r\n", true},
        {"keys in other letter cases", head + "USER1=a|1|0\r\nuser2=b|1|0\r\nUsEr3=c|1|0\r\n", true},
        {"a gap after the list", head + List(1, 3) + List(5, 7) + tail, true},
        {"a later section of the same name", head + List(1, 3) + "[Domain1]\r\n" + List(4, 5), true},
        {"double-byte values", head + "User1=\xd3\xc3|1|0\r\nUser2=\xbb\xa7|1|0\r\nUser3=c|1|0\r\n", true},
        {"tabs inside values", head + "User1=a\tb|1|0\r\nUser2=c\td|1|0\r\n", true},
        {"a long value", head + "User1=a\r\nUser2=" + std::string(700, 'o') + "\r\nUser3=c\r\n", true},
        {"no section", "[GLOBAL]\r\nVersion=1\r\n", true},
        {"a duplicate key", head + List(1, 3) + "User2=again|1|0\r\n" + List(4, 5), false},
        {"a duplicate in another letter case", head + List(1, 3) + "USER3=again|1|0\r\n", false},
        {"a blank entry ends the list", head + List(1, 3) + "User4=\r\nUser5=e|1|0\r\n", false},
        {"an entry of blanks ends the list", head + List(1, 3) + "User4=   \r\n", false},
        {"a key without a value", head + List(1, 2) + "User3\r\nUser4=d|1|0\r\n", false},
        {"a quoted value", head + List(1, 2) + "User3=\"c|1|0\"\r\nUser4='d'\r\n", false},
        {"a quoted blank value", head + List(1, 2) + "User3=\"\"\r\nUser4=d\r\n", false},
        {"a value with a NUL", head + List(1, 2) + std::string("User3=c\0x\r\n", 11), false},
        {"a value that is the null marker", head + List(1, 2) + "User3=0&\r\nUser4=d\r\n", true},
        {"a value the code page cannot hold", head + List(1, 2) + "User3=\x81\x7f\r\n", true},
        {"leading zeros", head + List(1, 2) + "User03=c\r\nUser3=c3\r\n", true},
        {"the whole list", head + List(1, kLast) + tail, true},
        {"beyond the last entry", head + List(1, kLast + 2) + tail, true},
    };
}

class ProfileGapTest : public testing::Test {
protected:
    // The file after User(deleted) is deleted and the gap closed by `close`,
    // in one transaction as the methods make their changes.
    template <typename Close>
    std::string After(const std::string& start, int deleted, Close close) {
        WriteBytes(dir_ / "ServUDaemon.ini", start);
        {
            ProfileTransaction transaction(file());
            WriteIniValue(u"Domain1", u"User" + Decimal(deleted), kNullMarker, file());
            close();
            transaction.Commit();
        }
        return ReadBytes(dir_ / "ServUDaemon.ini");
    }
    std::u16string file() const { return dir_.u16() + u"\\ServUDaemon.ini"; }
    test::TempDir dir_;
};

TEST_F(ProfileGapTest, OnePassLeavesTheBytesOfTheKeyByKeySequence) {
    for (const Case& c : Cases()) {
        for (const int deleted : {1, 2, 3, 4, 5, 6, 998, 999}) {
            SCOPED_TRACE(std::string(c.what) + ", deleting User" + std::to_string(deleted));
            const std::string expected =
                After(c.file, deleted, [&] { CloseIniGapKeyByKey(u"Domain1", u"User", deleted + 1, kLast, file()); });
            profile::GapClose how = profile::GapClose::kFailed;
            const std::string one_pass = After(c.file, deleted, [&] {
                how = profile::CloseNumberedGap("Domain1", "User", static_cast<std::uint32_t>(deleted) + 1, kLast,
                                                platform::ToAnsi(file()));
            });
            if (how == profile::GapClose::kClosed) {
                EXPECT_EQ(one_pass, expected);
            } else {
                EXPECT_EQ(how, profile::GapClose::kIrregular);
                EXPECT_FALSE(c.regular) << "a list of the usual shape took the slow way";
                EXPECT_EQ(one_pass, After(c.file, deleted, [] {})) << "a list it does not take is left alone";
            }
            // What the methods call, whichever way it goes.
            EXPECT_EQ(After(c.file, deleted, [&] { CloseIniGap(u"Domain1", u"User", deleted + 1, kLast, file()); }),
                      expected);
        }
    }
}

TEST(ProfileGapList, OnePassReadsWhatTheReadsOfEachKeyRead) {
    for (const Case& c : Cases()) {
        for (const std::string& file : {c.file, c.file + "[Domain1]\r\n" + List(1, 3) + "User4=\"\xd3\xc3\xbb\xa7\"\r\n"}) {
            const profile::ProfileEngine engine = profile::ProfileEngine::Parse(file);
            for (const std::uint32_t size : {144u, 5u, 2u}) {
                for (const std::string prefix : {"User", "user", " User"}) {
                    SCOPED_TRACE(std::string(c.what) + ", size " + std::to_string(size) + ", prefix " + prefix);
                    std::vector<std::string> expected;
                    std::string value;
                    for (std::uint32_t n = 2; n <= kLast; ++n) {
                        engine.GetString("Domain1", prefix + std::to_string(n), size, value);
                        if (value.find_first_not_of(' ') == std::string::npos) break;
                        expected.push_back(value);
                    }
                    std::vector<std::string> read;
                    engine.ForEachNumberedValue(" Domain1", prefix, 2, kLast, size, [&](const std::string& v) {
                        read.push_back(v);
                        return true;
                    });
                    EXPECT_EQ(read, expected);
                    // A visit that stops ends the reading there.
                    read.clear();
                    engine.ForEachNumberedValue(" Domain1", prefix, 2, kLast, size, [&](const std::string& v) {
                        read.push_back(v);
                        return read.size() < 2;
                    });
                    EXPECT_EQ(read, std::vector<std::string>(expected.begin(), expected.begin() + std::min<size_t>(2, expected.size())));
                }
            }
        }
    }
}

}  // namespace
}  // namespace quorvel
