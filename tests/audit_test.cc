// The audit trail: its line format read back exactly, what one call of each
// file-based method records (secrets masked), lines that stay whole while
// many threads write.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <memory>
#include <vector>

#include "backup/backup_sit.h"
#include "component/frame/audit.h"
#include "ftp/post_ftp_sit.h"
#include "mail/files/user_list.h"
#include "mail/post_email.h"
#include "mail/post_email_domain.h"
#include "support/md5.h"
#include "test_support.h"
#include "tests/audit_watch.h"
#include "tests/test_thread.h"

namespace quorvel {
namespace {

using test::AuditWatch;
using test::ReadBytes;
using test::Tabbed;
using test::WriteBytes;

std::string Utf8(const std::u16string& text) { return platform::ToUtf8(text); }

TEST(AuditLine, EscapesKeepOneLineAndReadBackExactlySecretsMasked) {
    AuditLine line;
    line.date = u"2026/1/2";
    line.time = u"3:04:05";
    line.method = u"PostFtpSit";
    line.action = u"EDIT";
    line.target = u"a\tb";
    line.result = 4;
    line.process_id = 77;
    line.account = u"HOST\\admin";
    line.changes = {
        {u"D:\\Serv-U\\ServUDaemon.ini", u"[USER=a|1]HomeDir", AuditValue(), AuditValue(u"x\r\ny 100%")},
        {u"D:\\f.ini", u"[S]K", AuditValue(u"-"), AuditValue(u"***")},
        {u"IIS://H/W3SVC/1", u"ServerBindings", AuditValue::List({u":80:a|b", u":81:"}), AuditValue(u"口令😀")},
        {u"D:\\Serv-U\\ServUDaemon.ini", u"[USER=a|1]Password", AuditValue(u"vkOLD"), AuditValue()},
        {u"WinNT://H/a", u"SetPassword()", AuditValue(), AuditValue::List({u"n3w"})},
    };
    const std::string bytes = FormatAuditLine(line);
    EXPECT_EQ(bytes, platform::ToAnsi(u"2026/1/2\t3:04:05\tPostFtpSit\tEDIT\ta%09b\t4\t77\tHOST\\admin"
                                      u"\tD:\\Serv-U\\ServUDaemon.ini\t[USER=a|1]HomeDir\t-\tx%0D%0Ay 100%25"
                                      u"\tD:\\f.ini\t[S]K\t%2D\t%2A**"
                                      u"\tIIS://H/W3SVC/1\tServerBindings\t:80:a%7Cb|:81:\t口令%uD83D%uDE00"
                                      u"\tD:\\Serv-U\\ServUDaemon.ini\t[USER=a|1]Password\t***\t-"
                                      u"\tWinNT://H/a\tSetPassword()\t-\t***\r\n"));

    const std::optional<AuditLine> read = ParseAuditLine(bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->target, u"a\tb");
    EXPECT_EQ(read->result, 4);
    EXPECT_EQ(read->process_id, 77u);
    EXPECT_EQ(read->account, u"HOST\\admin");
    ASSERT_EQ(read->changes.size(), 5u);
    EXPECT_TRUE(read->changes[0].before.absent());
    EXPECT_EQ(read->changes[0].after.text(), u"x\r\ny 100%");
    EXPECT_EQ(read->changes[1].before.text(), u"-");
    EXPECT_EQ(read->changes[1].after.text(), u"***");
    EXPECT_EQ(SplitAuditList(read->changes[2].before.text()), (std::vector<std::u16string>{u":80:a|b", u":81:"}));
    EXPECT_EQ(read->changes[2].after.text(), u"口令😀");
    EXPECT_EQ(read->changes[3].before.text(), u"***");

    EXPECT_FALSE(ParseAuditLine("a\tb\tc\r\n"));
    EXPECT_FALSE(ParseAuditLine("d\tt\tM\tA\tT\tx\t1\tacc\r\n"));
}

// The trail of one call: a key changed twice keeps its first OLD; a change
// undone within the call is none; no change, no line.
TEST(AuditTrail, MergesRepeatedChangesAndWritesNothingWithoutAChange) {
    AuditWatch watch;
    {
        AuditTrail trail(u"PostEmailDomain");
        trail.About(u"EDIT", u"example.com");
        trail.MergeKey("D:\\M\\Domains.dat", "example.com", "IP", "1.1.1.1", "2.2.2.2");
        trail.MergeKey("D:\\M\\Domains.dat", "example.com", "IP", "2.2.2.2", "3.3.3.3");
        trail.MergeKey("D:\\M\\Domains.dat", "example.com", "Bind", "Yes", "No");
        trail.MergeKey("D:\\M\\Domains.dat", "example.com", "Bind", "No", "Yes");
        EXPECT_TRUE(trail.Write(0));
        trail.MergeKey("D:\\M\\Domains.dat", "example.com", "IP", "3.3.3.3", "3.3.3.3");
        EXPECT_TRUE(trail.empty());
        EXPECT_TRUE(trail.Write(0));
        trail.About(u"SHUTDOWN", u"HOST").Requested();
        EXPECT_TRUE(trail.Write(0));
    }
    EXPECT_EQ(watch.Lines(), (std::vector<std::string>{
                                 Tabbed({"PostEmailDomain", "EDIT", "example.com", "0", "D:\\M\\Domains.dat",
                                         "[example.com]IP", "1.1.1.1", "3.3.3.3"}),
                                 Tabbed({"PostEmailDomain", "SHUTDOWN", "HOST", "0"}),
                             }));
}

// Many writers at once: every line whole, none lost. Lines are made long so
// that a write split in two would show.
TEST(AuditTrail, LinesOfConcurrentCallsStayWhole) {
    constexpr int kThreads = 6;
    constexpr int kLines = 40;
    const std::string before = test::AuditBytes();
    std::vector<std::unique_ptr<test::TestThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.push_back(std::make_unique<test::TestThread>([t] {
            for (int n = 0; n < kLines; ++n) {
                AuditTrail trail(u"PostFtpSit");
                trail.About(u"EDIT", platform::FromUtf8("user" + std::to_string(t)));
                for (int k = 0; k < 60; ++k)
                    trail.Change(u"D:\\Serv-U\\ServUDaemon.ini", platform::FromUtf8("[USER=u|1]Access" + std::to_string(k)),
                                 {}, std::u16string(100, static_cast<char16_t>(u'a' + t)));
                ASSERT_TRUE(trail.Write(0));
            }
        }));
    }
    for (const auto& thread : threads) thread->join();
    const std::vector<std::string> lines = test::SplitAuditLines(test::AuditBytes().substr(before.size()));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    for (const std::string& raw : lines) {
        const std::optional<AuditLine> line = ParseAuditLine(raw);
        ASSERT_TRUE(line) << raw.substr(0, 80);
        ASSERT_EQ(line->changes.size(), 60u);
        const char16_t letter = line->changes.front().after.text()[0];
        EXPECT_EQ(line->target, u"user" + std::u16string(1, static_cast<char16_t>(u'0' + (letter - u'a'))));
        for (const AuditChange& change : line->changes) EXPECT_EQ(change.after.text(), std::u16string(100, letter));
    }
}

constexpr char kFtpHeader[] =
    "[GLOBAL]\r\nVersion=6.4.0.6\r\n"
    "[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\n"
    "[Domain1]\r\nUser1=a|1|0\r\n";

class AuditFtpTest : public testing::Test {
protected:
    AuditFtpTest() { WriteBytes(dir_ / "ServUDaemon.ini", kFtpHeader); }
    std::int32_t Call(const std::u16string& action, const std::u16string& user, const std::u16string& pass = u"") {
        return ftp::PostFtpSit(action, user, dir_.u16(), pass, u"D:\\ftp\\" + user, u"D:\\ftp\\" + user + u"|RL", 5,
                               500, 10, 64, 128);
    }
    std::string Ini() const { return Utf8(dir_.u16()) + "\\ServUDaemon.ini"; }
    test::TempDir dir_;
};

TEST_F(AuditFtpTest, AChangingCallLogsEachKeyOldAndNewWithThePasswordMasked) {
    AuditWatch watch;
    ASSERT_EQ(Call(u"add", u"bob", u"secret"), 0);
    ASSERT_EQ(Call(u"MPASS", u"bob", u"other"), 0);
    const std::string user = "[USER=bob|1]";
    EXPECT_EQ(watch.Lines(),
              (std::vector<std::string>{
                  Tabbed({"PostFtpSit", "ADD", "bob", "0",
                          Ini(), "[Domain1]User2", "-", "bob|1|0",
                          Ini(), user + "Password", "-", "***",
                          Ini(), user + "HomeDir", "-", "D:\\ftp\\bob",
                          Ini(), user + "RelPaths", "-", "1",
                          Ini(), user + "Access1", "-", "D:\\ftp\\bob|RL",
                          Ini(), user + "DiskQuota", "-", "1|512000|0",
                          Ini(), user + "MaxNrUsers", "-", "5",
                          Ini(), user + "SpeedLimitUp", "-", "65536",
                          Ini(), user + "SpeedLimitDown", "-", "131072",
                          Ini(), user + "SessionTimeOut", "-", "600",
                          Ini(), user + "TimeOut", "-", "600",
                          Ini(), "[GLOBAL]ReloadSettings", "-", "True"}),
                  Tabbed({"PostFtpSit", "MPASS", "bob", "0", Ini(), user + "Password", "***", "***"}),
              }));
    EXPECT_EQ(test::AuditBytes().find("secret"), std::string::npos);
}

TEST_F(AuditFtpTest, LookUpsRefusalsAndFailuresWriteNoLine) {
    AuditWatch watch;
    EXPECT_EQ(Call(u"ISUSER", u"a"), 0);
    EXPECT_EQ(Call(u"ADD", u"a", u"pw"), 2);             // exists
    EXPECT_EQ(Call(u"DEL", u"nobody"), 3);               // missing
    EXPECT_EQ(Call(u"ADD", u"c\r\nd", u"pw"), 1);        // unsafe
    EXPECT_EQ(Call(u"NOSUCHWORD", u"a"), 0);
    EXPECT_EQ(Call(u"MPASS", u"a", u"口令"), 0);         // first change: sets it
    EXPECT_EQ(Call(u"MPASS", u"a", u"口令"), 0);         // the same value again: no change
    EXPECT_EQ(watch.Lines().size(), 1u);
}

TEST(AuditMail, DomainKeysAndUserListRecordsOldAndNew) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "app");
    WriteBytes(dir / "app" / "Domains.dat", "[example.com]\r\nIP=9.9.9.9\r\nBind=Yes\r\n");
    WriteBytes(dir / "app" / "USERLIST.DAT", "");
    const std::string domains = Utf8(dir.u16()) + "\\app\\Domains.dat";
    const std::string list = Utf8(dir.u16()) + "\\App\\USERLIST.DAT";
    const auto lookup = [](const std::u16string&, const std::u16string&, const std::u16string&) {
        return std::u16string(u"STOREDFORM");
    };
    AuditWatch watch;
    ASSERT_EQ(mail::PostEmailDomain(u"EDIT", dir.u16(), u"example.com", u"1.2.3.4", true, 30, 60, 7, false), 0);
    ASSERT_EQ(mail::PostEmail(u"ADD", dir.u16(), u"example.com", u"info", u"127.0.0.1", u"张三", u"secret", 0, 0,
                              lookup),
              0);
    ASSERT_EQ(mail::PostEmail(u"DEL", dir.u16(), u"example.com", u"info", u"", u"", u"", 0, 0, lookup), 0);
    const std::string record =
        Utf8(mail::HidePassword(*mail::BuildRecord({u"example.com", u"info", u"张三",
                                                    mail::MailboxFolder(dir.u16(), u"example.com", u"info"),
                                                    u"STOREDFORM", 0, 0})));
    EXPECT_NE(record.find("***                 "), std::string::npos);
    EXPECT_EQ(record.find("STOREDFORM"), std::string::npos);
    EXPECT_EQ(watch.Lines(),
              (std::vector<std::string>{
                  Tabbed({"PostEmailDomain", "EDIT", "example.com", "0",
                          domains, "[example.com]IP", "9.9.9.9", "1.2.3.4",
                          domains, "[example.com]MaxInactive", "-", "30",
                          domains, "[example.com]MaxMessageAge", "-", "60",
                          domains, "[example.com]MaxDeletedIMAPMessageAge", "-", "7",
                          domains, "[example.com]RecurseIMAP", "-", "No"}),
                  Tabbed({"PostEmail", "ADD", "info@example.com", "0", list, "record", "-", record}),
                  Tabbed({"PostEmail", "DEL", "info@example.com", "0", list, "record", record, "-"}),
              }));
    EXPECT_EQ(test::AuditBytes().find("STOREDFORM"), std::string::npos);
}

TEST(AuditBackup, EachFileWrittenOrDeletedWithItsSizeAndDigest) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "Serv-U");
    std::filesystem::create_directories(dir / "bak");
    const std::string content = "[GLOBAL]\r\nVersion=6.4.0.6\r\n";
    WriteBytes(dir / "Serv-U" / "ServUDaemon.ini", content);
    const std::u16string servu = (dir.path() / "Serv-U").u16string();
    const std::u16string bak = (dir.path() / "bak").u16string();
    AuditWatch watch;
    ASSERT_EQ(backup::BackupSit(u"backup", 1, u"nightly", servu, bak), 0);
    ASSERT_EQ(backup::BackupSit(u"DEL", 1, u"nightly", servu, bak), 0);
    const std::string state = std::to_string(content.size()) + " bytes MD5 " + Md5HexOfBytes(content);
    const std::vector<std::string> lines = watch.Lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string copy = Utf8(bak) + "\\1_nightly.bak";
    EXPECT_EQ(lines[0], Tabbed({"BackupSit", "BACKUP", "nightly", "0", copy, "", "-", state}));
    EXPECT_EQ(lines[1], Tabbed({"BackupSit", "DEL", "nightly", "0", copy, "", state, "-"}));
}

}  // namespace
}  // namespace quorvel
