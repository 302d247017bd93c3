// Many processes editing one configuration file at once, and processes that
// die in the middle of a call.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ftp/post_ftp_sit.h"
#include "platform/utf8.h"
#include "support/profile.h"
#include "test_support.h"

namespace quorvel::ftp {
namespace {

constexpr char kFile[] =
    "[GLOBAL]\r\nVersion=6.4.0.6\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\n[Domain1]\r\nUser1=first|1|0\r\n";

std::string Entry(const std::string& file, int k) {
    const std::string key = "\r\nUser" + std::to_string(k) + "=";
    const auto at = file.find(key);
    if (at == std::string::npos) return {};
    const auto start = at + key.size();
    return file.substr(start, file.find("\r\n", start) - start);
}

TEST(FtpConcurrency, ProcessesAddingAtOnceLoseNothing) {
    test::TempDir dir;
    test::WriteBytes(dir / "ServUDaemon.ini", kFile);
    constexpr int kProcesses = 8;
    constexpr int kEach = 12;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                const std::u16string user = platform::FromUtf8("p" + std::to_string(p) + "u" + std::to_string(i));
                if (PostFtpSit(u"ADD", user, dir.u16(), u"pw", u"D:\\ftp", u"D:\\ftp|RL", 0, 0, 0, 0, 0) != 0)
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string file = test::ReadBytes(dir / "ServUDaemon.ini");
    std::set<std::string> names;
    for (int k = 1; k <= 1 + kProcesses * kEach; ++k) {
        const std::string entry = Entry(file, k);
        ASSERT_FALSE(entry.empty()) << "gap at User" << k;
        names.insert(entry);
    }
    EXPECT_TRUE(Entry(file, 2 + kProcesses * kEach).empty());
    EXPECT_EQ(names.size(), static_cast<size_t>(1 + kProcesses * kEach));
    for (int p = 0; p < kProcesses; ++p)
        for (int i = 0; i < kEach; ++i)
            EXPECT_NE(file.find("[USER=p" + std::to_string(p) + "u" + std::to_string(i) + "|1]"), std::string::npos);
}

TEST(FtpConcurrency, AProcessThatDiesBeforeTheEndOfItsCallChangesNothing) {
    test::TempDir dir;
    test::WriteBytes(dir / "ServUDaemon.ini", kFile);
    const std::u16string file = dir.u16() + u"\\ServUDaemon.ini";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ProfileTransaction transaction(file);
        WriteIniValue(u"Domain1", u"User2", u"half|1|0", file);
        WriteIniValue(u"USER=half|1", u"Password", u"x", file);
        kill(getpid(), SIGKILL);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(test::ReadBytes(dir / "ServUDaemon.ini"), kFile);
    // The lock died with the process: the next call goes ahead.
    EXPECT_EQ(PostFtpSit(u"ADD", u"next", dir.u16(), u"pw", u"h", u"a", 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(Entry(test::ReadBytes(dir / "ServUDaemon.ini"), 2), "next|1|0");
}

TEST(FtpConcurrency, TemporaryFilesOfWritersThatDiedAreRemoved) {
    test::TempDir dir;
    test::WriteBytes(dir / "ServUDaemon.ini", kFile);
    const pid_t dead = fork();
    ASSERT_GE(dead, 0);
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string stale = ".ServUDaemon.ini.tmp" + std::to_string(dead) + "-0";
    const std::string alive = ".ServUDaemon.ini.tmp" + std::to_string(getppid()) + "-0";
    test::WriteBytes(dir / stale, "[GLOBAL]\r\nVers");
    test::WriteBytes(dir / alive, "[GLOBAL]\r\n");
    test::WriteBytes(dir / ".other.ini.tmp1-0", "");

    EXPECT_EQ(PostFtpSit(u"ADD", u"second", dir.u16(), u"pw", u"h", u"a", 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(Entry(test::ReadBytes(dir / "ServUDaemon.ini"), 2), "second|1|0");
    EXPECT_FALSE(std::filesystem::exists(dir / stale));
    // Another process may still be writing it; other files' temporaries are theirs.
    EXPECT_TRUE(std::filesystem::exists(dir / alive));
    EXPECT_TRUE(std::filesystem::exists(dir / ".other.ini.tmp1-0"));
}

}  // namespace
}  // namespace quorvel::ftp
