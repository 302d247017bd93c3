#include <gtest/gtest.h>

#include "automation/step_error.h"
#include "base/ascii.h"
#include "support/find_file.h"
#include "support/profile.h"
#include "support/strings.h"
#include "test_support.h"

namespace quorvel {
namespace {

using test::ReadBytes;
using test::WriteBytes;

TEST(Strings, SplitKeepsBlanksAndEmptyItems) {
    EXPECT_EQ(Split(u"a, b,,c", u','), (std::vector<std::u16string>{u"a", u" b", u"", u"c"}));
    EXPECT_EQ(Split(u"", u','), (std::vector<std::u16string>{u""}));
    EXPECT_EQ(Split(u",", u','), (std::vector<std::u16string>{u"", u""}));
}

TEST(Strings, DecimalBlanksAndTrimming) {
    EXPECT_EQ(Decimal(-2147483648LL), u"-2147483648");
    EXPECT_TRUE(IsBlank(u"   "));
    EXPECT_FALSE(IsBlank(u" \t"));
    EXPECT_EQ(TrimSpaces(u"  a b  "), u"a b");
}

TEST(Strings, PortsAreDigitsAloneUpTo65535) {
    EXPECT_EQ(ParsePort("0"), 0);
    EXPECT_EQ(ParsePort("65535"), 65535);
    EXPECT_EQ(ParsePort("08080"), 8080);
    for (const char* refused : {"", "65536", "99999", "100000", "-1", "+80", " 80", "80 ", "8o", "0x50"})
        EXPECT_EQ(ParsePort(refused), -1) << refused;
}

// The methods' test that a server's file is there, by attributes or by a
// search, agrees with the search's answer.
TEST(FindsFile, AnOrdinaryFileUnderTheNameInAnyAsciiCase) {
    test::TempDir dir;
    WriteBytes(dir / "ServUDaemon.ini", "");
    WriteBytes(dir / "domains.dat", "");
    std::filesystem::create_directories(dir / "Folder.ini");
    const std::u16string base = dir.u16() + u"\\";
    for (const std::u16string name : {u"ServUDaemon.ini", u"SERVUDAEMON.INI", u"DOMAINS.DAT", u"Domains.dat"}) {
        EXPECT_TRUE(FindsFile(base + name));
        EXPECT_EQ(base::ToUpperAscii(FindFile(base + name)), base::ToUpperAscii(name));
    }
    for (const std::u16string name : {u"Folder.ini", u"missing.ini", u"MISSING.DAT", u"*.ini", u"ServUDaemon.in?"})
        EXPECT_FALSE(FindsFile(base + name)) << std::string(name.begin(), name.end());
}

class ProfileRoutines : public testing::Test {
protected:
    std::u16string File() const { return dir_.u16() + u"\\Test.ini"; }
    std::filesystem::path Path() const { return dir_ / "Test.ini"; }
    test::TempDir dir_;
};

TEST_F(ProfileRoutines, MissingFileSectionOrKeyReadsEmpty) {
    EXPECT_EQ(ReadIniValue(u"GLOBAL", u"Version", 144, File()), u"");
    EXPECT_FALSE(std::filesystem::exists(Path()));
    WriteBytes(Path(), "[GLOBAL]\r\nEmpty=\r\n");
    EXPECT_EQ(ReadIniValue(u"GLOBAL", u"Empty", 144, File()), u"");
    EXPECT_EQ(ReadIniValue(u"GLOBAL", u"Other", 144, File()), u"");
    EXPECT_EQ(ReadIniValue(u"OTHER", u"Empty", 144, File()), u"");
}

TEST_F(ProfileRoutines, ChineseValuesComeBackExactlyAndLongOnesAreCut) {
    EXPECT_TRUE(WriteIniValue(u"用户", u"名称", u"网站管理员", File()));
    EXPECT_EQ(ReadBytes(Path()), "[\xd3\xc3\xbb\xa7]\r\n\xc3\xfb\xb3\xc6=\xcd\xf8\xd5\xbe\xb9\xdc\xc0\xed\xd4\xb1\r\n");
    EXPECT_EQ(ReadIniValue(u"用户", u"名称", 144, File()), u"网站管理员");
    // Size - 1 bytes of the value: four double-byte characters fit in 9.
    EXPECT_EQ(ReadIniValue(u"用户", u"名称", 9, File()), u"网站管理");
    EXPECT_EQ(ReadIniValue(u"用户", u"名称", 1, File()), u"");
    EXPECT_EQ(ReadIniValue(u"用户", u"名称", 0, File()), u"");
}

TEST_F(ProfileRoutines, NamesMatchWithoutRegardToCase) {
    WriteBytes(Path(), "[GLOBAL]\r\nVersion=1\r\n");
    EXPECT_EQ(ReadIniValue(u"global", u"VERSION", 144, File()), u"1");
    EXPECT_TRUE(WriteIniValue(u"Global", u"version", u"2", File()));
    EXPECT_EQ(ReadBytes(Path()), "[GLOBAL]\r\nVersion=2\r\n");
}

TEST_F(ProfileRoutines, TheNullMarkerRemovesAKeyOrASection) {
    WriteBytes(Path(), "[A]\r\nk=1\r\nj=2\r\n[B]\r\nx=1\r\n");
    EXPECT_TRUE(WriteIniValue(u"A", u"k", u"0&", File()));
    EXPECT_EQ(ReadIniValue(u"A", u"k", 144, File()), u"");
    EXPECT_EQ(ReadBytes(Path()), "[A]\r\nj=2\r\n[B]\r\nx=1\r\n");
    EXPECT_TRUE(WriteIniSection(u"A", u"0&", File()));
    EXPECT_EQ(ReadBytes(Path()), "[B]\r\nx=1\r\n");
    EXPECT_TRUE(WriteIniSection(u"B", std::u16string(u"p=1\0q=2", 7), File()));
    EXPECT_EQ(ReadBytes(Path()), "[B]\r\np=1\r\nq=2\r\n");
}

TEST_F(ProfileRoutines, TextThatWouldBreakTheFileIsNotWritten) {
    WriteBytes(Path(), "[A]\r\nk=1\r\n");
    EXPECT_FALSE(WriteIniValue(u"A", u"k", u"1\r\nInjected=1", File()));
    EXPECT_FALSE(WriteIniValue(u"A]x", u"k", u"1", File()));
    EXPECT_FALSE(WriteIniValue(u"A", u"k=j", u"1", File()));
    EXPECT_FALSE(WriteIniValue(u"A", u"[B]", u"1", File()));
    EXPECT_FALSE(WriteIniValue(u"A\n", u"k", u"1", File()));
    EXPECT_FALSE(WriteIniSection(u"A", u"k=1\r\n[B]", File()));
    EXPECT_EQ(ReadBytes(Path()), "[A]\r\nk=1\r\n");
    EXPECT_THROW(ReadIniValue(u"A", u"k", -1, File()), StepError);
}

}  // namespace
}  // namespace quorvel
