#include <gtest/gtest.h>

#include <string>

#include "ftp/post_ftp_sit.h"
#include "support/md5.h"
#include "test_support.h"

namespace quorvel::ftp {
namespace {

using test::LogWatch;
using test::MessageOf;
using test::ReadBytes;
using test::WriteBytes;

TEST(Md5Hex, MatchesTheStandardDigestInLowerCase) {
    EXPECT_EQ(Md5Hex(u""), u"d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex(u"vksecret"), u"f2e64a0e1130b994e77c3d8003c9ff38");
    // One block, and the two lengths that need a second one for the padding.
    EXPECT_EQ(Md5HexOfBytes(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Md5HexOfBytes(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Md5HexOfBytes(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    // Double-byte characters are digested as their code-page bytes.
    EXPECT_EQ(Md5Hex(u"口令"), u"93c598094747aade63ff53c2544216a9");
}

constexpr char kHeader[] =
    "[GLOBAL]\r\nVersion=6.4.0.6\r\n"
    "[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\n";

const std::string kSecret = "vkF2E64A0E1130B994E77C3D8003C9FF38";
const std::string kEmpty = "vk5D44A032652974C3E53644945A95B126";

class PostFtpSitTest : public testing::Test {
protected:
    std::filesystem::path ini() const { return dir_ / "ServUDaemon.ini"; }
    void Given(const std::string& bytes) const { WriteBytes(ini(), bytes); }
    std::string File() const { return ReadBytes(ini()); }

    std::int32_t Call(const std::u16string& action, const std::u16string& user, const std::u16string& pass = u"secret",
                      const std::u16string& access = u"D:\\ftp\\a|RWAMLCDP", std::int32_t quota = 500,
                      std::int32_t idle = 10) const {
        return PostFtpSit(action, user, dir_.u16(), pass, u"D:\\ftp\\" + user, access, 5, quota, idle, 64, 128);
    }

    test::TempDir dir_;
};

TEST_F(PostFtpSitTest, AddWritesTheEntryTheSectionAndTheReloadFlag) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\nUser2=b|1|0\r\n");
    LogWatch log;
    EXPECT_EQ(Call(u"add", u"c", u"secret", u"D:\\ftp\\c|RWAMLCDP, b,,c"), 0);
    EXPECT_EQ(File(), "[GLOBAL]\r\nVersion=6.4.0.6\r\nReloadSettings=True\r\n"
                      "[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\n"
                      "[Domain1]\r\nUser1=a|1|0\r\nUser2=b|1|0\r\nUser3=c|1|0\r\n"
                      "[USER=c|1]\r\nPassword=" + kSecret + "\r\nHomeDir=D:\\ftp\\c\r\nRelPaths=1\r\n"
                      "Access1=D:\\ftp\\c|RWAMLCDP\r\nAccess2=b\r\nAccess3=\r\nAccess4=c\r\n"
                      "DiskQuota=1|512000|0\r\nMaxNrUsers=5\r\nSpeedLimitUp=65536\r\nSpeedLimitDown=131072\r\n"
                      "SessionTimeOut=600\r\nTimeOut=600\r\n");
    EXPECT_TRUE(log.NewLines().empty());
}

TEST_F(PostFtpSitTest, ActionWordsIgnoreCaseAndNamesDoNot) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=Alice|1|0\r\n");
    EXPECT_EQ(Call(u"IsUser", u"Alice"), 0);
    EXPECT_EQ(Call(u"isuser", u"alice"), 3);
    EXPECT_EQ(Call(u"Add", u"alice"), 0);
    EXPECT_NE(File().find("User2=alice|1|0\r\n"), std::string::npos);
    EXPECT_EQ(Call(u"ADD", u"Alice"), 2);
}

TEST_F(PostFtpSitTest, AGapEndsTheUserList) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\nUser3=c|1|0\r\n");
    EXPECT_EQ(Call(u"ISUSER", u"c"), 3);
    EXPECT_EQ(Call(u"ADD", u"d"), 0);
    EXPECT_NE(File().find("User1=a|1|0\r\nUser3=c|1|0\r\nUser2=d|1|0\r\n"), std::string::npos);
}

TEST_F(PostFtpSitTest, DeleteClosesTheGap) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\nUser2=b|0|0\r\nUser3=c|1|0\r\n[USER=a|1]\r\nHomeDir=x\r\n"
                                 "[USER=b|1]\r\nHomeDir=y\r\n");
    EXPECT_EQ(Call(u"DEL", u"a"), 0);
    const std::string file = File();
    EXPECT_NE(file.find("[Domain1]\r\nUser1=b|0|0\r\nUser2=c|1|0\r\n[USER=b|1]"), std::string::npos) << file;
    EXPECT_EQ(file.find("User3"), std::string::npos);
    EXPECT_EQ(file.find("[USER=a|1]"), std::string::npos);
    EXPECT_EQ(Call(u"DEL", u"a"), 3);
}

TEST_F(PostFtpSitTest, StopAndStartMarkTheAccountTwice) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\nUser2=b|1|0\r\n[USER=b|1]\r\nHomeDir=y\r\n");
    EXPECT_EQ(Call(u"STOP", u"b"), 0);
    EXPECT_NE(File().find("User2=b|0|0\r\n"), std::string::npos);
    EXPECT_NE(File().find("[USER=b|1]\r\nHomeDir=y\r\nEnable=0\r\n"), std::string::npos);
    EXPECT_EQ(Call(u"START", u"b"), 0);
    EXPECT_NE(File().find("User2=b|1|0\r\n"), std::string::npos);
    EXPECT_NE(File().find("[USER=b|1]\r\nHomeDir=y\r\nEnable=1\r\n"), std::string::npos);
}

TEST_F(PostFtpSitTest, EditKeepsTheListAndHigherAccessKeys) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|0|0\r\n[USER=a|1]\r\nPassword=old\r\nAccess1=p\r\nAccess2=q\r\n"
                                 "Access3=r\r\nEnable=0\r\n");
    EXPECT_EQ(Call(u"EDIT", u"a", u"", u"x"), 0);
    const std::string file = File();
    EXPECT_NE(file.find("User1=a|0|0\r\n"), std::string::npos);
    // An empty password is stored as the digest of the salt alone.
    EXPECT_NE(file.find("Password=" + kEmpty + "\r\nAccess1=x\r\nAccess2=q\r\nAccess3=r\r\nEnable=0\r\n"),
              std::string::npos)
        << file;
}

TEST_F(PostFtpSitTest, MpassRewritesOnlyThePassword) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\n[USER=a|1]\r\nPassword=old\r\nHomeDir=h\r\n");
    EXPECT_EQ(Call(u"MPASS", u"a", u"secret"), 0);
    EXPECT_NE(File().find("[USER=a|1]\r\nPassword=" + kSecret + "\r\nHomeDir=h\r\n"), std::string::npos);
}

TEST_F(PostFtpSitTest, AnOverflowingProductSkipsItsKeyAndEndsIn4) {
    Given(std::string(kHeader) + "[Domain1]\r\n");
    LogWatch log;
    EXPECT_EQ(Call(u"ADD", u"a", u"secret", u"x", 2097152), 4);
    const std::string file = File();
    EXPECT_EQ(file.find("DiskQuota"), std::string::npos);
    EXPECT_NE(file.find("MaxNrUsers=5\r\n"), std::string::npos);
    EXPECT_NE(file.find("ReloadSettings=True"), std::string::npos);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：6，错误源：Quorvel，错误描述：溢出");
}

TEST_F(PostFtpSitTest, AnEmptyAccessListWritesNoAccessKeyAndEndsIn4) {
    Given(std::string(kHeader) + "[Domain1]\r\n");
    EXPECT_EQ(Call(u"ADD", u"a", u"secret", u""), 4);
    const std::string file = File();
    EXPECT_EQ(file.find("Access"), std::string::npos);
    EXPECT_NE(file.find("TimeOut=600\r\n"), std::string::npos);
}

TEST_F(PostFtpSitTest, WithoutTheFileEveryActionReturns1) {
    for (const char16_t* action : {u"ADD", u"EDIT", u"DEL", u"MPASS", u"ISUSER", u"STOP", u"START", u"NOPE"}) {
        LogWatch log;
        EXPECT_EQ(Call(action, u"a"), 1) << platform::ToUtf8(action);
        const auto lines = log.NewLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(MessageOf(lines[0]), "错误号：1，错误源：Ftp软件 ，错误描述：Ftp软件未安装或版本错误");
    }
    EXPECT_FALSE(std::filesystem::exists(ini()));
}

TEST_F(PostFtpSitTest, AnUnknownWordWritesNothing) {
    const std::string before = std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\n";
    Given(before);
    EXPECT_EQ(Call(u"RENAME", u"a"), 0);
    EXPECT_EQ(Call(u"ISUSER", u"a"), 0);
    EXPECT_EQ(File(), before);
}

TEST_F(PostFtpSitTest, MissingAccountsAreReportedWith3) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\n");
    const std::string before = File();
    for (const char16_t* action : {u"EDIT", u"DEL", u"MPASS", u"ISUSER", u"STOP", u"START"}) {
        LogWatch log;
        EXPECT_EQ(Call(action, u"zed"), 3);
        const auto lines = log.NewLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(MessageOf(lines[0]), "错误号：3，错误源：Ftp用户 ，错误描述：用户不存在");
    }
    EXPECT_EQ(File(), before);
}

TEST_F(PostFtpSitTest, InputThatWouldInjectKeysIsRefusedAndNothingWritten) {
    const std::string before = std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\n";
    Given(before);
    EXPECT_EQ(Call(u"ADD", u"evil\r\n[GLOBAL]"), 1);
    EXPECT_EQ(Call(u"ADD", u"x]y"), 1);
    EXPECT_EQ(Call(u"ADD", u"nul" + std::u16string(1, u'\0')), 1);
    EXPECT_EQ(Call(u"ADD", u"ok", u"p", u"a\nRelPaths=0"), 1);
    EXPECT_EQ(PostFtpSit(u"ADD", u"ok", dir_.u16(), u"p", u"D:\\x\r\nInjected=1", u"a", 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(File(), before);
}

// The user list is read 143 bytes at a time: a longer entry could be written
// but never found again.
TEST_F(PostFtpSitTest, NamesTooLongToBeFoundAgainAreRefused) {
    const std::string before = std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\n";
    Given(before);
    LogWatch log;
    EXPECT_EQ(Call(u"ADD", std::u16string(140, u'x')), 1);
    EXPECT_EQ(Call(u"ADD", std::u16string(70, u'口')), 1) << "two bytes each in the code page";
    EXPECT_EQ(Call(u"DEL", std::u16string(200, u'x')), 1);
    EXPECT_EQ(File(), before);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(MessageOf(lines[0]),
              "错误号：1，错误源：Ftp用户 ，错误描述：用户名过长，连同四个字符的后缀不能超过143字节");
    EXPECT_EQ(Call(u"ISUSER", std::u16string(200, u'x')), 3) << "asking writes nothing and is not refused";
    // The longest names that fit are found again.
    for (const std::u16string& name : {std::u16string(139, u'x'), std::u16string(69, u'口') + u"y"}) {
        EXPECT_EQ(Call(u"ADD", name), 0);
        EXPECT_EQ(Call(u"ISUSER", name), 0);
        EXPECT_EQ(Call(u"ADD", name), 2);
        EXPECT_EQ(Call(u"DEL", name), 0);
        EXPECT_EQ(Call(u"ISUSER", name), 3);
    }
}

TEST_F(PostFtpSitTest, ClosingTheGapMovesLongEntriesWhole) {
    const std::string other(300, 'o');  // written by another program
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\nUser2=" + other + "|1|0\r\nUser3=c|1|0\r\n");
    EXPECT_EQ(Call(u"DEL", u"a"), 0);
    EXPECT_NE(File().find("[Domain1]\r\nUser1=" + other + "|1|0\r\nUser2=c|1|0\r\n"), std::string::npos) << File();
}

TEST_F(PostFtpSitTest, ClosingTheGapKeepsEntriesThatReadAsTheNullMarkerOrThatTheCodePageCannotHold) {
    for (const std::string odd : {"0&", "\x81\x7f|1|0"}) {
        // Quoted, the list is closed up key by key; plain, in one pass.
        for (const std::string quote : {"", "'"}) {
            SCOPED_TRACE(odd + quote);
            Given(std::string(kHeader) + "[Domain1]\r\nUser1=a|1|0\r\nUser2=" + quote + odd + quote +
                  "\r\nUser3=c|1|0\r\n");
            EXPECT_EQ(Call(u"DEL", u"a"), 0);
            EXPECT_NE(File().find("[Domain1]\r\nUser1=" + odd + "\r\nUser2=c|1|0\r\n"), std::string::npos) << File();
        }
    }
}

TEST_F(PostFtpSitTest, WithoutADomainNumberNothingIsWritten) {
    for (const std::string domains : {"[DOMAINS]\r\n", "[DOMAINS]\r\nDomain1=ab\r\n", "[DOMAINS]\r\nDomain1=x|y|0\r\n"}) {
        const std::string before = "[GLOBAL]\r\n" + domains;
        Given(before);
        LogWatch log;
        EXPECT_EQ(Call(u"ADD", u"a"), 4);
        EXPECT_EQ(File(), before);
        EXPECT_EQ(log.NewLines().size(), 1u);
    }
}

TEST_F(PostFtpSitTest, TheFirstDomainWithAValueGivesTheNumber) {
    Given("[DOMAINS]\r\nDomain1=  \r\nDomain2=1.2.3.4||21|Second|7|0\r\n[Domain7]\r\n");
    EXPECT_EQ(Call(u"ADD", u"a"), 0);
    EXPECT_NE(File().find("[Domain7]\r\nUser1=a|1|0\r\n"), std::string::npos);
    EXPECT_NE(File().find("[USER=a|7]"), std::string::npos);
}

TEST_F(PostFtpSitTest, AFullListRefusesAddAndOverwritesNothing) {
    std::string file = std::string(kHeader) + "[Domain1]\r\n";
    for (int k = 1; k <= 999; ++k) file += "User" + std::to_string(k) + "=u" + std::to_string(k) + "|1|0\r\n";
    Given(file);
    EXPECT_EQ(Call(u"ADD", u"new"), 4);
    EXPECT_EQ(File(), file);
    // Entry 999 lies beyond the list: it moves down when a gap closes.
    EXPECT_EQ(Call(u"ISUSER", u"u999"), 3);
    EXPECT_EQ(Call(u"DEL", u"u1"), 0);
    EXPECT_NE(File().find("User998=u999|1|0\r\n"), std::string::npos);
    EXPECT_EQ(File().find("User999="), std::string::npos);
}

TEST_F(PostFtpSitTest, ShortEntriesMatchNoAccount) {
    Given(std::string(kHeader) + "[Domain1]\r\nUser1=ab\r\nUser2=b|1|0\r\n");
    EXPECT_EQ(Call(u"ISUSER", u""), 3);
    EXPECT_EQ(Call(u"ISUSER", u"b"), 0);
}

}  // namespace
}  // namespace quorvel::ftp
