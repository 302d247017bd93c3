// Backups and restores against account changes of other processes, the lock
// they share, and the machine's computer name.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "automation/objects.h"
#include "backup/backup_sit.h"
#include "ftp/post_ftp_sit.h"
#include "platform/file_lock.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/text.h"
#include "support/profile.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

namespace quorvel::backup {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::WriteBytes;

constexpr char kServU[] =
    "[GLOBAL]\r\nVersion=6.4.0.6\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\n[Domain1]\r\nUser1=first|1|0\r\n";

// A child process that takes a file's lock, changes the file under it, tells
// the parent, and lets the lock go a moment later.
class Holder {
public:
    template <typename Work>
    explicit Holder(Work&& work) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            work([&] {
                const char ready = 'r';
                if (write(fds[1], &ready, 1) != 1) _exit(2);
                usleep(150 * 1000);  // the parent's call has to wait this long
            });
            _exit(0);
        }
        close(fds[1]);
        char ready = 0;
        ready_ = read(fds[0], &ready, 1) == 1;
        close(fds[0]);
    }
    bool ready() const { return ready_; }
    bool Succeeded() {
        int status = 0;
        return waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

class BackupRaceTest : public testing::Test {
protected:
    BackupRaceTest() {
        fs::create_directories(dir_ / "Serv-U");
        fs::create_directories(dir_ / "MDaemon" / "App");
        fs::create_directories(dir_ / "bak");
        WriteBytes(ini(), kServU);
    }
    fs::path ini() const { return dir_ / "Serv-U" / "ServUDaemon.ini"; }
    std::u16string servu() const { return dir_.u16() + u"\\Serv-U"; }
    std::u16string bak() const { return dir_.u16() + u"\\bak"; }
    test::TempDir dir_;
};

TEST_F(BackupRaceTest, BackupAndRestoreWaitForAnAccountChangeInProgress) {
    {
        // Spelt otherwise than the method spells it: the same file, the same lock.
        const std::u16string file = servu() + u"\\SERVUDAEMON.INI";
        Holder change([&](auto&& wait) {
            ProfileTransaction transaction(file);
            WriteIniValue(u"Domain1", u"User2", u"second|1|0", file);
            WriteIniValue(u"USER=second|1", u"Password", u"x", file);
            wait();
            transaction.Commit();
        });
        ASSERT_TRUE(change.ready());
        EXPECT_EQ(BackupSit(u"BACKUP", 1, u"b", servu(), bak()), 0);
        EXPECT_TRUE(change.Succeeded());
    }
    const std::string saved = ReadBytes(dir_ / "bak" / "1_b.bak");
    EXPECT_NE(saved.find("User2=second|1|0\r\n"), std::string::npos) << "the backup holds the whole change";
    EXPECT_NE(saved.find("[USER=second|1]\r\nPassword=x\r\n"), std::string::npos);

    WriteBytes(dir_ / "bak" / "1_b.bak", kServU);
    {
        Holder change([&](auto&& wait) {
            const std::u16string file = servu() + u"\\ServUDaemon.ini";
            ProfileTransaction transaction(file);
            WriteIniValue(u"Domain1", u"User3", u"third|1|0", file);
            wait();
            transaction.Commit();
        });
        ASSERT_TRUE(change.ready());
        EXPECT_EQ(BackupSit(u"RESTORE", 1, u"b", servu(), bak()), 0);
        EXPECT_TRUE(change.Succeeded());
    }
    // The restore came after the change, whole: the change is gone, not the restore.
    EXPECT_EQ(ReadBytes(ini()), kServU);
}

TEST_F(BackupRaceTest, MailRestoreWaitsForTheUserListLock) {
    const fs::path users = dir_ / "MDaemon" / "App" / "USERLIST.DAT";
    WriteBytes(users, "old\r\n");
    WriteBytes(dir_ / "MDaemon" / "App" / "Domains.dat", "[d]\r\n");
    WriteBytes(dir_ / "bak" / "2_U_m.bak", "saved\r\n");
    WriteBytes(dir_ / "bak" / "2_D_m.bak", "[saved]\r\n");
    {
        Holder rewrite([&](auto&& wait) {
            platform::FileLock lock(platform::ToAnsi(dir_.u16() + u"\\MDaemon\\App\\USERLIST.DAT"));
            if (!lock.held()) _exit(1);
            wait();
            WriteBytes(users, "rewritten\r\n");
        });
        ASSERT_TRUE(rewrite.ready());
        EXPECT_EQ(BackupSit(u"RESTORE", 2, u"m", dir_.u16() + u"\\MDaemon", bak()), 0);
        EXPECT_TRUE(rewrite.Succeeded());
    }
    EXPECT_EQ(ReadBytes(users), "saved\r\n");
    EXPECT_EQ(ReadBytes(dir_ / "MDaemon" / "App" / "Domains.dat"), "[saved]\r\n");
}

// A mailbox call holds the webmail settings' lock from its start to its end,
// the temporary account in the user list for part of it: a mail backup or
// restore waits for the whole call.
TEST_F(BackupRaceTest, MailBackupAndRestoreWaitForAMailboxCallInProgress) {
    const fs::path users = dir_ / "MDaemon" / "App" / "USERLIST.DAT";
    fs::create_directories(dir_ / "MDaemon" / "WorldClient");
    WriteBytes(dir_ / "MDaemon" / "WorldClient" / "Domains.ini", "[Default:Settings]\r\nNewAccountCreation=No\r\n");
    WriteBytes(users, "real\r\n");
    WriteBytes(dir_ / "MDaemon" / "App" / "Domains.dat", "[d]\r\n");
    const std::u16string mdaemon = dir_.u16() + u"\\MDaemon";
    const std::string settings = platform::ToAnsi(mdaemon + u"\\WorldClient\\Domains.ini");
    {
        Holder lookup([&](auto&& wait) {
            platform::FileLock lock(settings);
            if (!lock.held()) _exit(1);
            WriteBytes(users, "real\r\ntemporary\r\n");
            wait();
            WriteBytes(users, "real\r\n");
        });
        ASSERT_TRUE(lookup.ready());
        EXPECT_EQ(BackupSit(u"BACKUP", 2, u"m", mdaemon, bak()), 0);
        EXPECT_TRUE(lookup.Succeeded());
    }
    EXPECT_EQ(ReadBytes(dir_ / "bak" / "2_U_m.bak"), "real\r\n");

    WriteBytes(dir_ / "bak" / "2_U_m.bak", "saved\r\n");
    {
        Holder add([&](auto&& wait) {
            platform::FileLock lock(settings);
            if (!lock.held()) _exit(1);
            wait();
            WriteBytes(users, "real\r\nadded\r\n");
        });
        ASSERT_TRUE(add.ready());
        EXPECT_EQ(BackupSit(u"RESTORE", 2, u"m", mdaemon, bak()), 0);
        EXPECT_TRUE(add.Succeeded());
    }
    EXPECT_EQ(ReadBytes(users), "saved\r\n");
}

// Accounts added while restores run: every call succeeds, and the file is
// always a restored one plus whole accounts added after it.
TEST_F(BackupRaceTest, RestoresRacingAccountChangesLoseNeither) {
    WriteBytes(dir_ / "bak" / "1_r.bak", kServU);
    constexpr int kAdds = 30;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int failures = 0;
        for (int i = 0; i < kAdds; ++i) {
            const std::u16string user = u"u" + platform::FromAnsi(std::to_string(i));
            if (ftp::PostFtpSit(u"ADD", user, servu(), u"pw", u"D:\\ftp", u"D:\\ftp|RL", 0, 0, 0, 0, 0) != 0)
                ++failures;
        }
        _exit(failures == 0 ? 0 : 1);
    }
    int restores_failed = 0;
    for (int i = 0; i < 15; ++i)
        if (BackupSit(u"RESTORE", 1, u"r", servu(), bak()) != 0) ++restores_failed;
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "every account change succeeded";
    EXPECT_EQ(restores_failed, 0);

    const std::string file = ReadBytes(ini());
    ASSERT_EQ(file.rfind("[GLOBAL]\r\nVersion=6.4.0.6\r\n", 0), 0u);
    std::set<int> added;
    for (int i = 0; i < kAdds; ++i) {
        const std::string name = "u" + std::to_string(i);
        const bool listed = file.find("=" + name + "|1|0\r\n") != std::string::npos;
        const bool section = file.find("[USER=" + name + "|1]\r\n") != std::string::npos;
        EXPECT_EQ(listed, section) << name << " is whole or absent";
        if (listed) added.insert(i);
    }
    // Only the accounts after the last restore are there.
    if (!added.empty()) {
        EXPECT_EQ(*added.rbegin(), kAdds - 1);
        EXPECT_EQ(static_cast<int>(added.size()), kAdds - *added.begin());
    }
}

// (Wine in the test prefix cannot make file names outside ASCII.)
TEST_F(BackupRaceTest, ChineseNamesNameTheirFilesInTheCodePage) {
    WriteBytes(dir_ / "MDaemon" / "App" / "USERLIST.DAT", "u");
    WriteBytes(dir_ / "MDaemon" / "App" / "Domains.dat", "d");
    EXPECT_EQ(BackupSit(u"BACKUP", 2, u"备份", dir_.u16() + u"\\MDaemon", bak()), 0);
    EXPECT_EQ(ReadBytes(dir_ / "bak" / "2_U_备份.bak"), "u");
    EXPECT_EQ(ReadBytes(dir_ / "bak" / "2_D_备份.bak"), "d");
}

// The IIS branch against the directory stand-in of a machine of its own.
class BackupIisTest : public testing::Test {
protected:
    static automation::Object Site() { return automation::GetObject(u"IIS://localhost/W3SVC/1"); }
    static std::int32_t Iis(const std::u16string& action, const std::u16string& name) {
        return BackupSit(action, 0, name, u"", u"");
    }
    static void SetConnections(std::int32_t n) {
        const automation::Object site = Site();
        site.Put(u"MaxConnections", n);
        site.Call(u"SetInfo");
    }
    static std::vector<std::u16string> Backups() {
        std::vector<std::u16string> versions;
        for (const auto& line : automation::GetObject(u"IIS://WEBHOST").Call(u"EnumBackups").TextList())
            versions.push_back(line.substr(0, line.find(u'\t', line.find(u'\t') + 1)));
        return versions;
    }
    test::FreshMachine machine_;
};

TEST_F(BackupIisTest, RestoreTakesTheNewestBackupOfTheWholeMetabase) {
    const automation::Object service = automation::GetObject(u"IIS://localhost/W3SVC");
    const automation::Object site = service.Call(u"Create", {u"IIsWebServer", u"1"}).AsObject();
    site.Put(u"ServerComment", u"alpha");
    site.Call(u"SetInfo");
    const automation::Object root = site.Call(u"Create", {u"IIsWebVirtualDir", u"ROOT"}).AsObject();
    root.Put(u"Path", u"D:\\web\\alpha");
    root.Call(u"SetInfo");

    test::LogWatch log;
    SetConnections(10);
    EXPECT_EQ(Iis(u"BACKUP", u"nightly"), 0);
    SetConnections(20);
    EXPECT_EQ(Iis(u"backup", u"nightly"), 0);
    EXPECT_EQ(Backups(), (std::vector<std::u16string>{u"nightly\t0", u"nightly\t1"}));

    SetConnections(30);
    root.Put(u"Path", u"D:\\moved");
    root.Call(u"SetInfo");
    service.Call(u"Create", {u"IIsWebServer", u"2"}).AsObject().Call(u"SetInfo");
    EXPECT_EQ(Iis(u"Restore", u"NIGHTLY"), 0);
    EXPECT_EQ(Site().Get(u"MaxConnections").Long(), 20);
    EXPECT_EQ(Site().Get(u"ServerComment").Text(), u"alpha");
    EXPECT_EQ(automation::GetObject(u"IIS://localhost/W3SVC/1/ROOT").Get(u"Path").Text(), u"D:\\web\\alpha");
    EXPECT_EQ(service.CountChildren(), 1u);
    EXPECT_TRUE(log.NewLines().empty());
}

TEST_F(BackupIisTest, DelRemovesVersionZeroOnlyAndMissingBackupsFail) {
    const std::string kNoBackup = "错误号：-2147024894，错误源：Quorvel，错误描述：系统找不到指定的文件。";
    EXPECT_EQ(Iis(u"BACKUP", u"b"), 0);
    EXPECT_EQ(Iis(u"BACKUP", u"b"), 0);
    EXPECT_EQ(Iis(u"BACKUP", u"other"), 0);
    test::LogWatch log;
    EXPECT_EQ(Iis(u"DEL", u"b"), 0);
    EXPECT_EQ(Backups(), (std::vector<std::u16string>{u"b\t1", u"other\t0"}));
    EXPECT_TRUE(log.NewLines().empty());

    // Version 0 is gone; the newest is still there to restore.
    EXPECT_EQ(Iis(u"DEL", u"b"), 4);
    EXPECT_EQ(Iis(u"RESTORE", u"b"), 0);
    EXPECT_EQ(Iis(u"RESTORE", u"never"), 4);
    EXPECT_EQ(Iis(u"DEL", u"never"), 4);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) EXPECT_EQ(test::MessageOf(line), kNoBackup);

    // Unknown words do nothing.
    test::LogWatch quiet;
    EXPECT_EQ(Iis(u"LIST", u"x"), 0);
    EXPECT_EQ(Iis(u"BACKUP ", u"x"), 0);
    EXPECT_EQ(Backups(), (std::vector<std::u16string>{u"b\t1", u"other\t0"}));
    EXPECT_TRUE(quiet.NewLines().empty());
}

TEST(BackupIis, WithoutAComputerNameNothingIsTried) {
    const test::FreshMachine machine;
    WriteBytes(machine.path() / "machine.ini", "[Machine]\r\nComputerName=\r\n");
    test::LogWatch log;
    // The computer name comes before the backup name is looked at.
    EXPECT_EQ(BackupSit(u"BACKUP", 0, u"..\\x", u"", u""), 1);
    EXPECT_EQ(BackupSit(u"OTHER", 0, u"x", u"", u""), 1);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(test::MessageOf(lines[0]), "错误号：1，错误源：计算机 ，错误描述：不能取得计算机名");
}

}  // namespace
}  // namespace quorvel::backup
