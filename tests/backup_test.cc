#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "backup/backup_sit.h"
#include "test_support.h"

namespace quorvel::backup {
namespace {

namespace fs = std::filesystem;
using test::LogWatch;
using test::MessageOf;
using test::ReadBytes;
using test::WriteBytes;

const std::string kNoFtp = "错误号：2，错误源：Serv-u软件 ，错误描述：Serv-U软件未安装或版本错误";
const std::string kNoMail = "错误号：2，错误源：MDaemon软件 ，错误描述：MDaemon软件未安装或版本错误";
const std::string kNoFolder = "错误号：3，错误源：备份 ，错误描述：备份路径不存在！";
const std::string kUnsafeName = "错误号：1，错误源：备份 ，错误描述：备份名含有不允许的字符";
const std::string kFileNotFound = "错误号：53，错误源：Quorvel，错误描述：文件未找到";
const std::string kPermissionDenied = "错误号：70，错误源：Quorvel，错误描述：没有权限";

// Bytes no conversion would keep: NUL, a lone CR, LF and CR LF line ends,
// GBK text, bytes that are not valid in the code page.
const std::string kIrregular = std::string("[GLOBAL]\r\nVersion=6\n\0x\r", 22) + "\xd6\xd0\xce\xc4\r\n\xff\x80\x81";

std::vector<std::string> Messages(const LogWatch& log) {
    std::vector<std::string> messages;
    for (const auto& line : log.NewLines()) messages.push_back(MessageOf(line));
    return messages;
}

void MakeReadOnly(const fs::path& file) {
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

class BackupTest : public testing::Test {
protected:
    BackupTest() {
        fs::create_directories(servu_);
        fs::create_directories(mail_ / "App");
        fs::create_directories(bak_);
    }
    ~BackupTest() override {
        // Read-only files must not keep the folder from being removed.
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(dir_.path(), ec))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    }

    static std::u16string U(const fs::path& path) { return path.u16string(); }

    std::int32_t Ftp(const std::u16string& action, const std::u16string& name) const {
        return BackupSit(action, 1, name, U(servu_), U(bak_));
    }
    std::int32_t Mail(const std::u16string& action, const std::u16string& name) const {
        return BackupSit(action, 2, name, U(mail_), U(bak_));
    }

    test::TempDir dir_;
    fs::path servu_ = dir_ / "Serv-U";
    fs::path ini_ = servu_ / "ServUDaemon.ini";
    fs::path mail_ = dir_ / "MDaemon";
    // Spelt as the mail server spells them; the method asks for app\UserList.dat.
    fs::path users_ = mail_ / "App" / "USERLIST.DAT";
    fs::path domains_ = mail_ / "App" / "DOMAINS.DAT";
    fs::path bak_ = dir_ / "backups";
};

TEST_F(BackupTest, FtpBackupRestoreAndDeleteCopyBytesExactly) {
    WriteBytes(ini_, kIrregular);
    LogWatch log;
    EXPECT_EQ(Ftp(u"BACKUP", u"night"), 0);
    EXPECT_EQ(ReadBytes(bak_ / "1_night.bak"), kIrregular);

    // A second backup of the name replaces the first.
    WriteBytes(ini_, "[GLOBAL]\r\nVersion=7\r\n");
    EXPECT_EQ(Ftp(u"backup", u"night"), 0);
    EXPECT_EQ(ReadBytes(bak_ / "1_night.bak"), "[GLOBAL]\r\nVersion=7\r\n");

    WriteBytes(bak_ / "1_old.bak", kIrregular);
    EXPECT_EQ(Ftp(u"Restore", u"old"), 0);
    EXPECT_EQ(ReadBytes(ini_), kIrregular);

    EXPECT_EQ(Ftp(u"del", u"night"), 0);
    EXPECT_FALSE(fs::exists(bak_ / "1_night.bak"));
    EXPECT_TRUE(fs::exists(bak_ / "1_old.bak"));
    EXPECT_TRUE(log.NewLines().empty());
    // Nothing but the backups was left in the backup folder.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(bak_)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"1_old.bak"});
}

TEST_F(BackupTest, MailBackupsAreTwoFilesUserListFirst) {
    WriteBytes(users_, "users\r\n" + kIrregular);
    WriteBytes(domains_, "[example.com]\r\nIP=1.2.3.4\r\n");
    EXPECT_EQ(Mail(u"BACKUP", u"week 1"), 0);
    EXPECT_EQ(ReadBytes(bak_ / "2_U_week 1.bak"), "users\r\n" + kIrregular);
    EXPECT_EQ(ReadBytes(bak_ / "2_D_week 1.bak"), "[example.com]\r\nIP=1.2.3.4\r\n");

    WriteBytes(users_, "changed");
    WriteBytes(domains_, "changed");
    EXPECT_EQ(Mail(u"RESTORE", u"week 1"), 0);
    EXPECT_EQ(ReadBytes(users_), "users\r\n" + kIrregular);
    EXPECT_EQ(ReadBytes(domains_), "[example.com]\r\nIP=1.2.3.4\r\n");

    // The second file is still handled when the first fails; the failure is reported.
    fs::remove(bak_ / "2_U_week 1.bak");
    WriteBytes(domains_, "changed");
    LogWatch log;
    EXPECT_EQ(Mail(u"RESTORE", u"week 1"), 4);
    EXPECT_EQ(ReadBytes(users_), "users\r\n" + kIrregular);
    EXPECT_EQ(ReadBytes(domains_), "[example.com]\r\nIP=1.2.3.4\r\n");
    EXPECT_EQ(Messages(log), std::vector<std::string>{kFileNotFound});

    LogWatch del;
    EXPECT_EQ(Mail(u"DEL", u"week 1"), 4);
    EXPECT_FALSE(fs::exists(bak_ / "2_D_week 1.bak"));
    EXPECT_EQ(Messages(del), std::vector<std::string>{kFileNotFound});
}

TEST_F(BackupTest, ChecksComeFirstInTheirOrderForEveryActionWord) {
    const fs::path no_folder = dir_ / "nowhere";
    for (const std::u16string action : {u"BACKUP", u"RESTORE", u"DEL", u"LIST"}) {
        SCOPED_TRACE(platform::ToUtf8(action));
        // No live file: 2, before the missing backup folder.
        LogWatch log;
        EXPECT_EQ(BackupSit(action, 1, u"x", U(servu_), U(no_folder)), 2);
        WriteBytes(users_, "u");
        EXPECT_EQ(BackupSit(action, 2, u"x", U(mail_), U(no_folder)), 2);
        fs::remove(users_);
        WriteBytes(domains_, "d");
        EXPECT_EQ(BackupSit(action, 2, u"x", U(mail_), U(no_folder)), 2);
        EXPECT_EQ(Messages(log), (std::vector<std::string>{kNoFtp, kNoMail, kNoMail}));

        // Live files there, no backup folder: 3.
        WriteBytes(ini_, "i");
        WriteBytes(users_, "u");
        LogWatch missing_folder;
        EXPECT_EQ(BackupSit(action, 1, u"x", U(servu_), U(no_folder)), 3);
        EXPECT_EQ(BackupSit(action, 2, u"x", U(mail_), U(no_folder)), 3);
        EXPECT_EQ(Messages(missing_folder), (std::vector<std::string>{kNoFolder, kNoFolder}));
        fs::remove(ini_);
        fs::remove(users_);
        fs::remove(domains_);
    }
    EXPECT_FALSE(fs::exists(no_folder));
}

TEST_F(BackupTest, UnknownWordsAndEditionsDoNothing) {
    WriteBytes(ini_, "i");
    WriteBytes(users_, "u");
    WriteBytes(domains_, "d");
    LogWatch log;
    EXPECT_EQ(Ftp(u"COPY", u"x"), 0);
    EXPECT_EQ(Mail(u"BACKUP ", u"x"), 0);
    for (const std::int32_t edition : {3, -1, 2147483647})
        EXPECT_EQ(BackupSit(u"BACKUP", edition, u"x", U(servu_), U(dir_ / "nowhere")), 0);
    EXPECT_TRUE(log.NewLines().empty());
    EXPECT_TRUE(fs::is_empty(bak_));
    EXPECT_EQ(ReadBytes(ini_), "i");
}

TEST_F(BackupTest, FailedCopiesLeaveFilesAsTheyWere) {
    WriteBytes(ini_, "live");
    LogWatch log;
    EXPECT_EQ(Ftp(u"RESTORE", u"never"), 4);
    EXPECT_EQ(ReadBytes(ini_), "live");

    // A read-only backup is not replaced, but DEL removes it.
    WriteBytes(bak_ / "1_kept.bak", "kept");
    MakeReadOnly(bak_ / "1_kept.bak");
    EXPECT_EQ(Ftp(u"BACKUP", u"kept"), 4);
    EXPECT_EQ(ReadBytes(bak_ / "1_kept.bak"), "kept");
    EXPECT_EQ(Ftp(u"DEL", u"kept"), 0);
    EXPECT_FALSE(fs::exists(bak_ / "1_kept.bak"));
    EXPECT_EQ(Ftp(u"DEL", u"kept"), 4);
    EXPECT_EQ(Messages(log), (std::vector<std::string>{kFileNotFound, kPermissionDenied, kFileNotFound}));
}

TEST_F(BackupTest, RestoringAReadOnlyBackupLeavesTheLiveFileWritable) {
    WriteBytes(ini_, "live");
    WriteBytes(bak_ / "1_ro.bak", "saved");
    MakeReadOnly(bak_ / "1_ro.bak");
    EXPECT_EQ(Ftp(u"RESTORE", u"ro"), 0);
    EXPECT_EQ(ReadBytes(ini_), "saved");
    EXPECT_NE(fs::status(ini_).permissions() & fs::perms::owner_write, fs::perms::none);
}

// Names that would reach files outside the backup folder, with folders in
// place that would make such paths resolve.
TEST_F(BackupTest, BackupNamesCannotLeaveTheBackupFolder) {
    WriteBytes(ini_, "live");
    WriteBytes(users_, "users");
    WriteBytes(domains_, "domains");
    fs::create_directories(bak_ / "1_x");
    fs::create_directories(bak_ / "2_U_x");
    fs::create_directories(bak_ / "2_D_x");
    const fs::path victim = dir_ / "victim.bak";
    WriteBytes(victim, "victim");
    const std::u16string outside = U(dir_ / "victim");
    const std::vector<std::u16string> names = {
        u"x\\..\\..\\victim", u"x/../../victim", u"..", u".", u"..\\victim", u"C:victim", outside,
        std::u16string(u"x\0y", 3), u"*", u"x?", u"a|b", u"a<b", u"a\"b", u"a\tb", u"x:stream", u"\U0001F600",
    };
    for (const auto& name : names) {
        SCOPED_TRACE(platform::ToUtf8(name));
        for (const std::u16string action : {u"BACKUP", u"RESTORE", u"DEL"}) {
            LogWatch log;
            EXPECT_EQ(Ftp(action, name), 1);
            EXPECT_EQ(Mail(action, name), 1);
            EXPECT_EQ(BackupSit(action, 0, name, u"", u""), 1);
            EXPECT_EQ(Messages(log), (std::vector<std::string>{kUnsafeName, kUnsafeName, kUnsafeName}));
        }
    }
    EXPECT_EQ(ReadBytes(victim), "victim");
    EXPECT_EQ(ReadBytes(ini_), "live");
    EXPECT_EQ(ReadBytes(users_), "users");
    EXPECT_EQ(ReadBytes(domains_), "domains");
    EXPECT_EQ(std::distance(fs::directory_iterator(bak_), fs::directory_iterator()), 3);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 4);

    // Other words do nothing with such names; the checks before still come first.
    EXPECT_EQ(Ftp(u"OTHER", u"..\\victim"), 0);
    EXPECT_EQ(BackupSit(u"DEL", 1, u"..\\victim", U(dir_ / "none"), U(bak_)), 2);
    // Dots and blanks inside a name are fine.
    EXPECT_EQ(Ftp(u"BACKUP", u"..a b."), 0);
    EXPECT_EQ(ReadBytes(bak_ / "1_..a b..bak"), "live");
}

}  // namespace
}  // namespace quorvel::backup
