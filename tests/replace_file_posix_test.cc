// A file replaced by any writer (profile functions, whole-file writes,
// copies, restores) is never readable, while it is being written, by anyone
// who could not read the file it replaces: the copy beside it has the file's
// mode and access ACL before its first byte.
#include <acl/libacl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "backup/backup_sit.h"
#include "platform/files.h"
#include "platform/posix/atomic_file.h"
#include "profile/profile.h"
#include "test_support.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::WriteBytes;

// The temporary file as the writer left it just before writing.
struct Seen {
    std::string name;
    mode_t mode = 0;
    off_t size = -1;
    std::string acl;
};
std::vector<Seen> seen;

// The access ACL in its short text form; empty when the mode says all.
std::string AclText(const std::string& path) {
    acl_t acl = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    if (acl == nullptr) return {};
    std::string text;
    if (acl_equiv_mode(acl, nullptr) != 0) {
        if (char* t = acl_to_any_text(acl, nullptr, ',', TEXT_ABBREVIATE)) {
            text = t;
            acl_free(t);
        }
    }
    acl_free(acl);
    return text;
}

void Record(const std::string& temporary) {
    struct stat st {};
    if (stat(temporary.c_str(), &st) != 0) return;
    seen.push_back({fs::path(temporary).filename().string(), static_cast<mode_t>(st.st_mode & 07777), st.st_size,
                    AclText(temporary)});
}

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<mode_t>(st.st_mode & 07777) : 0;
}

bool SetAcl(const fs::path& path, const char* text, acl_type_t type = ACL_TYPE_ACCESS) {
    acl_t acl = acl_from_text(text);
    if (acl == nullptr) return false;
    const bool done = acl_set_file(path.c_str(), type, acl) == 0;
    acl_free(acl);
    return done;
}

class ReplaceFile : public testing::Test {
protected:
    void SetUp() override {
        seen.clear();
        posix::SetBeforeWriteHookForTests(&Record);
        saved_umask_ = umask(022);
    }
    void TearDown() override {
        posix::SetBeforeWriteHookForTests(nullptr);
        umask(saved_umask_);
    }
    // Everything in the folder but the lock files.
    std::set<std::string> Listing(const fs::path& folder) const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) {
            const std::string name = e.path().filename().string();
            if (!name.ends_with(".lock")) names.insert(name);
        }
        return names;
    }
    void ExpectOneCopyMadeWith(mode_t mode, const std::string& what) {
        ASSERT_EQ(seen.size(), 1u) << what;
        EXPECT_EQ(seen[0].mode, mode) << what << ": " << seen[0].name;
        EXPECT_EQ(seen[0].size, 0) << what << ": looked at before its first byte";
        seen.clear();
    }

    test::TempDir dir_;
    mode_t saved_umask_ = 0;
};

TEST_F(ReplaceFile, EveryWriterGivesTheCopyTheFilesModeBeforeItsFirstByte) {
    const fs::path ini = dir_ / "ServUDaemon.ini";
    for (const mode_t mode : {0600, 0640, 0604, 0400}) {
        WriteBytes(ini, "[USER=a|1]\r\nPassword=old\r\n");
        ASSERT_EQ(chmod(ini.c_str(), mode), 0);
        const std::string what = "mode " + std::to_string(mode);

        EXPECT_TRUE(profile::WritePrivateProfileString("USER=a|1", "Password", "secret", ini.string())) << what;
        ExpectOneCopyMadeWith(mode, what + ", profile write");
        EXPECT_TRUE(platform::ReplaceFileBytes(ini.string(), "[USER=a|1]\r\nPassword=new\r\n")) << what;
        ExpectOneCopyMadeWith(mode, what + ", whole-file write");
        EXPECT_EQ(ModeOf(ini), mode) << what;
        EXPECT_EQ(ReadBytes(ini), "[USER=a|1]\r\nPassword=new\r\n") << what;
        EXPECT_EQ(Listing(dir_.path()), std::set<std::string>{"ServUDaemon.ini"}) << what;
    }
}

// As the fault was seen: restoring a private FTP configuration from a backup.
TEST_F(ReplaceFile, ARestoreOverAPrivateFileNeverShowsItToOthers) {
    fs::create_directories(dir_ / "Serv-U");
    fs::create_directories(dir_ / "bak");
    const fs::path ini = dir_ / "Serv-U" / "ServUDaemon.ini";
    WriteBytes(ini, "[GLOBAL]\r\nVersion=6.4.0.6\r\n");
    ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
    WriteBytes(dir_ / "bak" / "1_b.bak", "[GLOBAL]\r\nVersion=6.4.0.6\r\n[USER=a|1]\r\nPassword=ab0123\r\n");
    ASSERT_EQ(chmod((dir_ / "bak" / "1_b.bak").c_str(), 0644), 0);

    EXPECT_EQ(backup::BackupSit(u"RESTORE", 1, u"b", dir_.u16() + u"\\Serv-U", dir_.u16() + u"\\bak"), 0);
    ExpectOneCopyMadeWith(0600, "restore");
    EXPECT_EQ(ModeOf(ini), 0600);
    EXPECT_NE(ReadBytes(ini).find("Password=ab0123"), std::string::npos);
}

TEST_F(ReplaceFile, ANewFileIsPrivateUntilWholeThenAsAnyNewFileThere) {
    const fs::path file = dir_ / "USERLIST.DAT";
    EXPECT_TRUE(platform::ReplaceFileBytes(file.string(), "record\r\n"));
    ExpectOneCopyMadeWith(0600, "new file");
    EXPECT_EQ(ModeOf(file), 0644u) << "umask 022";
    // Nothing left of the look at what a new file gets.
    EXPECT_EQ(Listing(dir_.path()), std::set<std::string>{"USERLIST.DAT"});

    umask(077);
    fs::remove(file);
    EXPECT_TRUE(platform::ReplaceFileBytes(file.string(), "record\r\n"));
    ExpectOneCopyMadeWith(0600, "new file, umask 077");
    EXPECT_EQ(ModeOf(file), 0600u);
}

TEST_F(ReplaceFile, ACopyToANewNameIsNoMoreReadableThanItsSource) {
    const fs::path secret = dir_ / "secret.ini";
    const fs::path open = dir_ / "open.ini";
    WriteBytes(secret, "Password=x\r\n");
    WriteBytes(open, "Name=y\r\n");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(chmod(open.c_str(), 0644), 0);

    EXPECT_EQ(platform::CopyFileReplacing(secret.string(), (dir_ / "copy1").string()), platform::FileStatus::kDone);
    ExpectOneCopyMadeWith(0600, "copy of a private file");
    EXPECT_EQ(ModeOf(dir_ / "copy1"), 0600u);
    EXPECT_EQ(platform::CopyFileReplacing(open.string(), (dir_ / "copy2").string()), platform::FileStatus::kDone);
    EXPECT_EQ(ModeOf(dir_ / "copy2"), 0644u);
    // Over an existing file, the file's own mode counts.
    seen.clear();
    EXPECT_EQ(platform::CopyFileReplacing(open.string(), (dir_ / "copy1").string()), platform::FileStatus::kDone);
    ExpectOneCopyMadeWith(0600, "copy over a private file");
    EXPECT_EQ(ModeOf(dir_ / "copy1"), 0600u);
}

TEST_F(ReplaceFile, TheFilesAccessAclAndAFoldersDefaultAclAreKept) {
    const fs::path file = dir_ / "Domains.ini";
    WriteBytes(file, "[Default:Settings]\r\n");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    // User 1 may read the file; nobody else but its owner.
    if (!SetAcl(file, "u::rw-,u:1:r--,g::---,m::r--,o::---")) GTEST_SKIP() << "no ACLs on this file system";
    const std::string acl = AclText(file.string());
    ASSERT_NE(acl, "");

    EXPECT_TRUE(profile::WritePrivateProfileString("Default:Settings", "Port", "3000", file.string()));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].acl, acl) << "before the first byte";
    EXPECT_EQ(AclText(file.string()), acl);

    // A new file in a folder with a default ACL ends as one made there directly.
    const fs::path folder = dir_ / "shared";
    fs::create_directories(folder);
    ASSERT_TRUE(SetAcl(folder, "u::rwx,u:1:rwx,g::r-x,m::rwx,o::---", ACL_TYPE_DEFAULT));
    const fs::path direct = folder / "direct";
    close(open(direct.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    seen.clear();
    EXPECT_TRUE(platform::ReplaceFileBytes((folder / "written").string(), "x"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].mode & 077, 0u) << "nobody but the owner while it is written: " << seen[0].acl;
    EXPECT_EQ(AclText((folder / "written").string()), AclText(direct.string()));
    EXPECT_EQ(ModeOf(folder / "written"), ModeOf(direct));
}

}  // namespace
}  // namespace quorvel
