// Profile files on disk: creation rules, untouched files, atomic replacement,
// the read cache, transactions and concurrent writers; and the script runner end
// to end on the cases under tests/profile_cases.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "profile/engine/profile_engine.h"
#include "profile/profile.h"
#include "profile/profile_file.h"
#include "profile_script.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using profile::GetPrivateProfileString;
using profile::ProfileTransaction;
using profile::WritePrivateProfileSection;
using profile::WritePrivateProfileString;

class ProfileFile : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvel-profile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ini_ = (dir_ / "Test.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& file, std::string_view section, std::string_view key) {
        std::string value;
        GetPrivateProfileString(section, key, 255, file, value);
        return value;
    }
    // Everything in the folder but the lock files.
    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            const std::string name = e.path().filename().string();
            if (name.size() < 5 || name.substr(name.size() - 5) != ".lock") names.insert(name);
        }
        return names;
    }

    fs::path dir_;
    std::string ini_;
};

TEST_F(ProfileFile, MissingFiles) {
    EXPECT_EQ(Read(ini_, "s", "k"), "");
    EXPECT_FALSE(fs::exists(ini_));
    // A write without a section fails and creates nothing.
    EXPECT_FALSE(profile::ProfileWriteString(std::nullopt, "k", "v", ini_));
    EXPECT_FALSE(fs::exists(ini_));
    // Deleting from a missing file leaves an empty one, as Windows does.
    EXPECT_TRUE(WritePrivateProfileString("s", "k", std::nullopt, ini_));
    EXPECT_TRUE(fs::exists(ini_));
    EXPECT_EQ(fs::file_size(ini_), 0u);
    EXPECT_TRUE(WritePrivateProfileString("s", "k", "", ini_));
    EXPECT_EQ(Bytes(ini_), "[s]\r\nk=\r\n");
    // A folder that does not exist cannot take a file.
    EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", (dir_ / "no" / "x.ini").string()));
}

TEST_F(ProfileFile, CallsThatChangeNothingLeaveTheFileAlone) {
    const std::string start = "[a]\nk = v\n\n[b]\n";
    Put(ini_, start);
    const auto before = fs::last_write_time(ini_);
    struct stat st1 {};
    ASSERT_EQ(stat(ini_.c_str(), &st1), 0);
    EXPECT_TRUE(WritePrivateProfileString("A", "K", "v", ini_));
    EXPECT_TRUE(WritePrivateProfileString("a", "missing", std::nullopt, ini_));
    EXPECT_TRUE(WritePrivateProfileSection("none", std::nullopt, ini_));
    EXPECT_TRUE(WritePrivateProfileSection("none", std::string_view("\0\0", 2), ini_));
    struct stat st2 {};
    ASSERT_EQ(stat(ini_.c_str(), &st2), 0);
    EXPECT_EQ(Bytes(ini_), start);
    EXPECT_EQ(fs::last_write_time(ini_), before);
    EXPECT_EQ(st1.st_ino, st2.st_ino);
}

TEST_F(ProfileFile, WritesReplaceTheFileAndLeaveNoTemporaries) {
    Put(ini_, "[a]\nk=1\n");
    fs::permissions(ini_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(WritePrivateProfileString("a", "k", "2", ini_));
    EXPECT_TRUE(WritePrivateProfileSection("b", std::string_view("x=1\0\0", 5), ini_));
    EXPECT_EQ(Bytes(ini_), "[a]\nk=2\r\n[b]\r\nx=1\r\n");
    EXPECT_EQ(Listing(), std::set<std::string>{"Test.ini"});
    EXPECT_EQ(fs::status(ini_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProfileFile, WindowsPathsAreMapped) {
    fs::create_directories(dir_ / "App");
    const std::string real = (dir_ / "App" / "USERLIST.ini").string();
    Put(real, "[s]\r\nk=1\r\n");
    const std::string windows = dir_.string() + "\\app\\UserList.INI";
    EXPECT_EQ(Read(windows, "s", "k"), "1");
    EXPECT_TRUE(WritePrivateProfileString("s", "k", "2", windows));
    EXPECT_EQ(Bytes(real), "[s]\r\nk=2\r\n");
}

TEST_F(ProfileFile, UnchangedFilesAreNotParsedAgain) {
    Put(ini_, "[s]\r\nk=1\r\n");
    EXPECT_EQ(Read(ini_, "s", "k"), "1");
    const uint64_t parses = profile::ProfileEngine::parse_count();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(Read(ini_, "s", "k"), "1");
    // Our own write keeps the cache current.
    EXPECT_TRUE(WritePrivateProfileString("s", "k", "2", ini_));
    EXPECT_EQ(Read(ini_, "s", "k"), "2");
    EXPECT_EQ(profile::ProfileEngine::parse_count(), parses);
    // A change by someone else is seen (another inode, as an editor's save gives).
    const std::string other = ini_ + ".new";
    Put(other, "[s]\r\nk=3\r\n");
    fs::rename(other, ini_);
    EXPECT_EQ(Read(ini_, "s", "k"), "3");
    EXPECT_EQ(profile::ProfileEngine::parse_count(), parses + 1);
    // Each read fills the buffer of the one before: a shorter file after a
    // longer one shows nothing of it.
    Put(other, "[s]\r\nk=4\r\n[t]\r\n" + std::string(70000, ';') + "\r\nm=5\r\n");
    fs::rename(other, ini_);
    EXPECT_EQ(Read(ini_, "t", "m"), "5");
    Put(other, "[s]\r\nk=6\r\n");
    fs::rename(other, ini_);
    EXPECT_EQ(Read(ini_, "t", "m"), "");
    EXPECT_EQ(Read(ini_, "s", "k"), "6");
    EXPECT_TRUE(WritePrivateProfileString("s", "k", "7", ini_));
    EXPECT_EQ(Bytes(ini_), "[s]\r\nk=7\r\n");
}

TEST_F(ProfileFile, ReadersNeverSeeAHalfWrittenFile) {
    const std::string a(64 * 1024, 'a'), b(64 * 1024, 'b');
    ASSERT_TRUE(WritePrivateProfileString("s", "v", a, ini_));
    const std::string file_a = Bytes(ini_);
    ASSERT_TRUE(WritePrivateProfileString("s", "v", b, ini_));
    const std::string file_b = Bytes(ini_);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < 100; ++i)
            if (!WritePrivateProfileString("s", "v", i % 2 ? b : a, ini_)) _exit(1);
        _exit(0);
    }
    int torn = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string now = Bytes(ini_);
        if (now != file_a && now != file_b) ++torn;
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(Listing(), std::set<std::string>{"Test.ini"});
}

TEST_F(ProfileFile, TransactionWritesOnceAtCommit) {
    Put(ini_, "[s]\r\nk=1\r\n");
    {
        ProfileTransaction transaction(ini_);
        ASSERT_TRUE(transaction.locked());
        EXPECT_TRUE(WritePrivateProfileString("s", "k", "2", ini_));
        EXPECT_TRUE(WritePrivateProfileString("t", "j", "3", ini_));
        EXPECT_EQ(Read(ini_, "s", "k"), "2");     // this thread sees its own changes
        EXPECT_EQ(Bytes(ini_), "[s]\r\nk=1\r\n");  // the disk does not, yet
        std::string seen;
        std::thread([&] { seen = Read(ini_, "s", "k"); }).join();
        EXPECT_EQ(seen, "1");
        {
            ProfileTransaction nested(ini_);  // joins instead of waiting for itself
            EXPECT_TRUE(nested.locked());
            EXPECT_TRUE(WritePrivateProfileString("s", "n", "4", ini_));
            ProfileTransaction other((dir_ / "Other.ini").string());
            EXPECT_TRUE(WritePrivateProfileString("o", "k", "5", (dir_ / "Other.ini").string()));
        }
        EXPECT_EQ(Read((dir_ / "Other.ini").string(), "o", "k"), "5");
        EXPECT_TRUE(transaction.Commit());
        EXPECT_EQ(Bytes(ini_), "[s]\r\nk=2\r\nn=4\r\n[t]\r\nj=3\r\n");
        EXPECT_TRUE(WritePrivateProfileString("t", "j", std::nullopt, ini_));
    }
    EXPECT_EQ(Bytes(ini_), "[s]\r\nk=2\r\nn=4\r\n[t]\r\n");
    EXPECT_EQ(Listing(), (std::set<std::string>{"Other.ini", "Test.ini"}));
}

TEST_F(ProfileFile, WithoutTheLockATransactionReadsButChangesNothing) {
    Put(ini_, "[s]\r\nk=1\r\n");
    fs::create_directory(dir_ / ".Test.ini.lock");  // the lock cannot be taken
    {
        ProfileTransaction transaction(ini_);
        EXPECT_FALSE(transaction.locked());
        EXPECT_EQ(Read(ini_, "s", "k"), "1");
        EXPECT_TRUE(transaction.Commit()) << "nothing was refused yet";
        EXPECT_FALSE(WritePrivateProfileString("s", "k", "2", ini_));
        EXPECT_FALSE(transaction.Commit());
    }
    EXPECT_EQ(Bytes(ini_), "[s]\r\nk=1\r\n");
}

TEST_F(ProfileFile, ACrashBeforeCommitLeavesTheFile) {
    Put(ini_, "[s]\r\nk=1\r\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ProfileTransaction transaction(ini_);
        WritePrivateProfileString("s", "k", "2", ini_);
        _exit(0);  // no destructor, no commit
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(Bytes(ini_), "[s]\r\nk=1\r\n");
    EXPECT_TRUE(WritePrivateProfileString("s", "k", "3", ini_));  // the lock died with the process
}

TEST_F(ProfileFile, ConcurrentTransactionsLoseNothing) {
    constexpr int kProcesses = 6, kThreads = 2, kKeys = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::vector<std::thread> threads;
            std::atomic<bool> ok{true};
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    for (int round = 0; round < 5; ++round) {
                        ProfileTransaction transaction(ini_);
                        if (!transaction.locked()) ok = false;
                        for (int k = round * 5; k < round * 5 + 5; ++k) {
                            const std::string key = "K" + std::to_string(p) + "_" + std::to_string(t) + "_" +
                                                    std::to_string(k);
                            if (!WritePrivateProfileString("Keys", key, "v", ini_)) ok = false;
                        }
                    }
                });
            }
            for (auto& th : threads) th.join();
            _exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
    }
    std::string list;
    const uint32_t n = profile::ProfileGetString("Keys", std::nullopt, 1 << 20, ini_, list);
    EXPECT_EQ(static_cast<size_t>(n), list.size());
    size_t count = 0;
    for (const char c : list) count += c == '\0';
    EXPECT_EQ(count, static_cast<size_t>(kProcesses * kThreads * kKeys));
    EXPECT_EQ(Listing(), std::set<std::string>{"Test.ini"});
}

// Each case under tests/profile_cases is NAME.script with NAME.expected (the
// runner's output, `\?` matching any byte) and, if the file does not start
// missing, NAME.ini.
TEST_F(ProfileFile, RunnerCases) {
    const fs::path cases = fs::path(QUORVEL_SOURCE_DIR) / "tests" / "profile_cases";
    int ran = 0;
    for (const auto& entry : fs::directory_iterator(cases)) {
        if (entry.path().extension() != ".script") continue;
        const fs::path base = entry.path().parent_path() / entry.path().stem();
        const std::string ini = (dir_ / (entry.path().stem().string() + ".ini")).string();
        fs::remove(ini);
        if (fs::exists(base.string() + ".ini")) fs::copy_file(base.string() + ".ini", ini);
        const std::string command =
            std::string(QUORVEL_PROFILE_RUNNER) + " '" + entry.path().string() + "' '" + ini + "'";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << entry.path();
        const std::string want = Bytes(base.string() + ".expected");
        EXPECT_TRUE(test::OutputMatches(output, want)) << entry.path() << "\n--- got\n" << output << "--- want\n" << want;
        ++ran;
    }
    EXPECT_GE(ran, 5);
}

}  // namespace
}  // namespace quorvel
