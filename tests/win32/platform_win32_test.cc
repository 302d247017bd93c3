// The Win32 side of the platform seam, on the real API (under Wine or Windows).
#include <gtest/gtest.h>

#include <windows.h>

#include <malloc.h>
#include <sddl.h>

#include <optional>
#include <string>
#include <vector>

#include "../test_support.h"
#include "base/ascii.h"
#include "ftp/post_ftp_sit.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win32/handles.h"
#include "platform/win32/replace_file.h"
#include "platform/win32/wide.h"
#include "profile/engine/profile_engine.h"
#include "profile/profile.h"

namespace quorvel::platform {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::string Read(const std::string& file, const char* section, const char* key) {
    std::string value;
    profile::GetPrivateProfileString(section, key, 256, file, value);
    return value;
}

class ProfileTransactionTest : public testing::Test {
protected:
    std::string file() const { return (dir_ / "ServUDaemon.ini").string(); }
    std::string copy() const { return file() + ".quorvel-tmp"; }
    TempDir dir_;
};

TEST_F(ProfileTransactionTest, ChangesReachTheFileTogetherAtCommit) {
    WriteBytes(file(), "[s]\r\na=1\r\n");
    {
        profile::ProfileTransaction transaction(file());
        ASSERT_TRUE(transaction.locked());
        EXPECT_TRUE(profile::WritePrivateProfileString("s", "a", "2", file()));
        EXPECT_TRUE(profile::WritePrivateProfileString("s", "b", "3", file()));
        // The transaction reads its own changes; everyone else still sees the old file.
        EXPECT_EQ(Read(file(), "s", "b"), "3");
        EXPECT_EQ(ReadBytes(file()), "[s]\r\na=1\r\n");
        EXPECT_TRUE(transaction.Commit());
        EXPECT_EQ(ReadBytes(file()), "[s]\r\na=2\r\nb=3\r\n");
        // Later changes of the same transaction wait for the end of it.
        EXPECT_TRUE(profile::WritePrivateProfileSection("s", std::nullopt, file()));
        EXPECT_EQ(ReadBytes(file()), "[s]\r\na=2\r\nb=3\r\n");
    }
    EXPECT_EQ(ReadBytes(file()), "");
    EXPECT_EQ(GetFileAttributesA(copy().c_str()), INVALID_FILE_ATTRIBUTES) << "the working copy is removed";
}

TEST_F(ProfileTransactionTest, ReadingOnlyLeavesTheFileAndMakesNoCopy) {
    WriteBytes(file(), "[s]\r\na=1\r\n");
    FILETIME before{}, after{};
    {
        win32::Handle h(CreateFileA(file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        GetFileTime(h.get(), nullptr, nullptr, &before);
    }
    {
        profile::ProfileTransaction transaction(file());
        EXPECT_EQ(Read(file(), "S", "A"), "1");
        EXPECT_EQ(GetFileAttributesA(copy().c_str()), INVALID_FILE_ATTRIBUTES);
    }
    win32::Handle h(CreateFileA(file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    GetFileTime(h.get(), nullptr, nullptr, &after);
    EXPECT_EQ(CompareFileTime(&before, &after), 0);
}

// Another program that keeps the file open without delete sharing holds the
// move off: the change is written over the file rather than lost.
TEST_F(ProfileTransactionTest, AFileHeldOpenByAnotherProgramStillGetsTheChange) {
    WriteBytes(file(), "[s]\r\nk=1\r\n");
    {
        win32::Handle held(CreateFileA(file().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.valid());
        EXPECT_TRUE(profile::WritePrivateProfileString("s", "k", "2", file()));
        EXPECT_EQ(Read(file(), "s", "k"), "2");
    }
    EXPECT_EQ(ReadBytes(file()), "[s]\r\nk=2\r\n");
    EXPECT_EQ(GetFileAttributesA(copy().c_str()), INVALID_FILE_ATTRIBUTES) << "the working copy is removed";
}

TEST_F(ProfileTransactionTest, AMissingFileAppearsOnlyAtTheEnd) {
    {
        profile::ProfileTransaction transaction(file());
        EXPECT_TRUE(profile::WritePrivateProfileString("s", "k", "v", file()));
        EXPECT_EQ(GetFileAttributesA(file().c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(ReadBytes(file()), "[s]\r\nk=v\r\n");
}

// The cache of parsed files knows a file it read by its stamp: read again
// only when another file took its place, even one of the same size and
// times.
TEST_F(ProfileTransactionTest, AFileIsParsedAgainOnlyWhenReplaced) {
    WriteBytes(file(), "[s]\r\nk=1\r\n");
    EXPECT_EQ(Read(file(), "s", "k"), "1");
    const uint64_t parses = profile::ProfileEngine::parse_count();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Read(file(), "s", "k"), "1");
    EXPECT_EQ(profile::ProfileEngine::parse_count(), parses);
    // Our own replacement keeps the copy current, in a transaction or not.
    EXPECT_TRUE(profile::WritePrivateProfileString("s", "k", "3", file()));
    {
        profile::ProfileTransaction transaction(file());
        EXPECT_TRUE(profile::WritePrivateProfileString("s", "k", "4", file()));
        EXPECT_TRUE(transaction.Commit());
    }
    EXPECT_EQ(Read(file(), "s", "k"), "4");
    EXPECT_EQ(profile::ProfileEngine::parse_count(), parses);

    const std::string other = (dir_ / "other.ini").string();
    WriteBytes(other, "[s]\r\nk=2\r\n");
    FILETIME created{}, accessed{}, written{};
    {
        win32::Handle old(CreateFileA(file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(GetFileTime(old.get(), &created, &accessed, &written));
        win32::Handle fresh(CreateFileA(other.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(fresh.get(), &created, &accessed, &written));
    }
    ASSERT_TRUE(MoveFileExA(other.c_str(), file().c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Read(file(), "s", "k"), "2");
    EXPECT_EQ(profile::ProfileEngine::parse_count(), parses + 1);
}

struct Contender {
    std::string path;
    std::string seen;
};

DWORD WINAPI IncrementInTransaction(void* arg) {
    auto* c = static_cast<Contender*>(arg);
    profile::ProfileTransaction transaction(c->path);
    c->seen = Read(c->path, "s", "n");
    profile::WritePrivateProfileString("s", "n", std::to_string(std::stoi(c->seen) + 1), c->path);
    return 0;
}

// Another thread naming the same file differently waits for the transaction and
// then sees its changes: no read-modify-write is lost.
TEST_F(ProfileTransactionTest, ExcludesOtherTransactionsOnTheSameFile) {
    WriteBytes(file(), "[s]\r\nn=1\r\n");
    std::string other_spelling = file();
    for (char& ch : other_spelling) {
        if (ch == '\\') ch = '/';
        ch = base::ToUpperAscii(ch);
    }
    Contender contender{other_spelling, {}};
    win32::Handle thread;
    {
        profile::ProfileTransaction transaction(file());
        thread.reset(CreateThread(nullptr, 0, IncrementInTransaction, &contender, 0, nullptr));
        ASSERT_TRUE(thread.valid());
        EXPECT_EQ(WaitForSingleObject(thread.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the other transaction waits";
        profile::WritePrivateProfileString("s", "n", "10", file());
    }
    ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(contender.seen, "10");
    EXPECT_EQ(Read(file(), "s", "n"), "11");
}

TEST(Win32Files, FindsOrdinaryFilesOnlyByTheirExactPath) {
    TempDir dir;
    WriteBytes(dir / "ServUDaemon.ini", "");
    WriteBytes(dir / "hidden.ini", "");
    SetFileAttributesA((dir / "hidden.ini").string().c_str(), FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryA((dir / "folder.ini").string().c_str(), nullptr);
    const std::string base = dir.path().string() + "\\";
    EXPECT_EQ(FindFileName(base + "SERVUDAEMON.INI"), "ServUDaemon.ini") << "the name as stored";
    EXPECT_EQ(FindFileName(base + "hidden.ini"), std::nullopt);
    EXPECT_EQ(FindFileName(base + "folder.ini"), std::nullopt);
    EXPECT_EQ(FindFileName(base + "*.ini"), std::nullopt) << "no pattern search";
    EXPECT_EQ(FindFileName(base + "missing.ini"), std::nullopt);
}

// A replacement keeps the name as the folder shows it and the attributes the
// file had, whatever spelling the caller used.
TEST(Win32Files, AReplacedFileKeepsItsStoredNameAndAttributes) {
    TempDir dir;
    WriteBytes(dir / "servudaemon.INI", "[s]\r\nk=1\r\n");
    const std::string stored = (dir / "servudaemon.INI").string();
    ASSERT_TRUE(SetFileAttributesA(stored.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    const std::string asked = dir.path().string() + "\\ServUDaemon.ini";
    EXPECT_TRUE(profile::WritePrivateProfileString("s", "k", "2", asked));
    WIN32_FIND_DATAA found{};
    HANDLE find = FindFirstFileA(asked.c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_STREQ(found.cFileName, "servudaemon.INI");
    EXPECT_EQ(GetFileAttributesA(stored.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ReadBytes(dir / "servudaemon.INI"), "[s]\r\nk=2\r\n");
}

// A file's DACL in SDDL; empty when it cannot be read.
std::wstring DaclText(const std::wstring& path) {
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> descriptor(needed);
    if (needed == 0 ||
        !GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed))
        return {};
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr))
        return {};
    std::wstring dacl(text);
    LocalFree(text);
    return dacl;
}

// The copies the replacements made, as they were before their first byte.
struct CopySeen {
    std::wstring dacl;
    LONGLONG size = -1;
};
std::vector<CopySeen> copies_seen;

void SeeCopy(const std::wstring& copy) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const LONGLONG size = GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data)
                              ? (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
                              : -1;
    copies_seen.push_back({DaclText(copy), size});
}

// This process's user as SDDL names it.
std::wstring UserSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    const win32::Handle token(raw);
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    std::vector<BYTE> user(needed);
    LPWSTR text = nullptr;
    if (needed == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), needed, &needed) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text))
        return {};
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

TEST(Win32Files, EveryReplacementMakesItsCopyWithTheFilesDaclBeforeItsFirstByte) {
    TempDir dir;
    const std::string file = (dir / "ServUDaemon.ini").string();
    const std::wstring wide = (dir / "ServUDaemon.ini").wstring();
    WriteBytes(file, "[USER=a|1]\r\nPassword=old\r\n");
    WriteBytes(dir / "1_b.bak", "[USER=a|1]\r\nPassword=saved\r\n");
    // Only this user and the administrators may open it, whatever the folder allows.
    const std::wstring sid = UserSid();
    ASSERT_NE(sid, L"");
    PSECURITY_DESCRIPTOR only_us = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        (L"D:P(A;;FA;;;" + sid + L")(A;;FA;;;BA)").c_str(), SDDL_REVISION_1, &only_us, nullptr));
    const bool set = SetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, only_us);
    LocalFree(only_us);
    ASSERT_TRUE(set);
    const std::wstring dacl = DaclText(wide);
    ASSERT_NE(dacl.find(sid), std::wstring::npos) << "the file keeps the DACL it was given";

    copies_seen.clear();
    win32::SetBeforeWriteHookForTests(&SeeCopy);
    EXPECT_TRUE(profile::WritePrivateProfileString("USER=a|1", "Password", "x", file));
    EXPECT_TRUE(ReplaceFileBytes(file, "[USER=a|1]\r\nPassword=new\r\n"));
    EXPECT_EQ(CopyFileReplacing((dir / "1_b.bak").string(), file), FileStatus::kDone);
    win32::SetBeforeWriteHookForTests(nullptr);

    ASSERT_EQ(copies_seen.size(), 3u);
    for (const CopySeen& copy : copies_seen) {
        EXPECT_EQ(copy.dacl, dacl);
        EXPECT_EQ(copy.size, 0);
    }
    EXPECT_EQ(DaclText(wide), dacl);
    EXPECT_EQ(ReadBytes(dir / "ServUDaemon.ini"), "[USER=a|1]\r\nPassword=saved\r\n");
}

// A DACL longer than the first buffer asked with still reaches the copy.
TEST(Win32Files, ALongDaclReachesTheCopyWhole) {
    TempDir dir;
    const std::string file = (dir / "ServUDaemon.ini").string();
    const std::wstring wide = (dir / "ServUDaemon.ini").wstring();
    WriteBytes(file, "[s]\r\nk=1\r\n");
    const std::wstring sid = UserSid();
    ASSERT_NE(sid, L"");
    std::wstring sddl = L"D:P(A;;FA;;;" + sid + L")(A;;FA;;;BA)";
    for (int n = 1000; n < 1030; ++n) sddl += L"(A;;FR;;;S-1-5-21-1-2-3-" + std::to_wstring(n) + L")";
    PSECURITY_DESCRIPTOR long_one = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &long_one, nullptr));
    ASSERT_GT(GetSecurityDescriptorLength(long_one), 1024u);
    const bool set = SetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, long_one);
    LocalFree(long_one);
    ASSERT_TRUE(set);
    const std::wstring dacl = DaclText(wide);
    // Wine keeps DACLs only where the file system takes extended attributes.
    if (dacl.find(L"S-1-5-21-1-2-3-1029") == std::wstring::npos) GTEST_SKIP() << "this file system keeps no DACL";

    copies_seen.clear();
    win32::SetBeforeWriteHookForTests(&SeeCopy);
    EXPECT_TRUE(profile::WritePrivateProfileString("s", "k", "2", file));
    win32::SetBeforeWriteHookForTests(nullptr);
    ASSERT_EQ(copies_seen.size(), 1u);
    EXPECT_EQ(copies_seen[0].dacl, dacl);
    EXPECT_EQ(DaclText(wide), dacl);
    EXPECT_EQ(ReadBytes(file), "[s]\r\nk=2\r\n");
}

TEST(Win32Files, AppendersShareTheFileAndKeepTheirLines) {
    TempDir dir;
    const std::string path = (dir / "DllErr.log").string();
    AppendFile first, second;
    ASSERT_TRUE(first.Open(path));
    ASSERT_TRUE(second.Open(path));
    EXPECT_TRUE(first.Write("one\r\n"));
    EXPECT_TRUE(second.Write("two\r\n"));
    EXPECT_TRUE(first.Write("three\r\n"));
    first.Close();
    EXPECT_FALSE(first.Write("lost\r\n"));
    EXPECT_EQ(ReadBytes(dir / "DllErr.log"), "one\r\ntwo\r\nthree\r\n");
}

TEST(Win32Files, ModuleFolderIsTheFolderOfTheLoadedModule) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string folder(exe);
    folder.resize(folder.find_last_of('\\'));
    EXPECT_EQ(ModuleFolder(), folder);
}

// The test prefix runs with the Simplified Chinese ANSI code page.
TEST(Win32Text, ConvertsThroughCodePage936) {
    ASSERT_EQ(GetACP(), 936u);
    EXPECT_EQ(ToAnsi(u"错误号：2"), "\xb4\xed\xce\xf3\xba\xc5\xa3\xba" "2");
    EXPECT_EQ(FromAnsi("\xb4\xed\xce\xf3"), u"错误");
    EXPECT_EQ(ToAnsi(u"a\u0e01b"), "a?b") << "what the code page lacks becomes '?'";
}

// The strict conversion asks WideCharToMultiByte for no best fit and looks
// at whether the default character was used; UTF-8 takes neither and
// refuses lone surrogates itself.
TEST(Win32Text, StrictConversionTakesNoDefaultCharacterNorBestFit) {
    using win32::ToCodePageExactly;
    const std::u16string lone = std::u16string(u"a") + char16_t(0xD800);
    EXPECT_EQ(ToCodePageExactly(CP_ACP, u"错误"), "\xb4\xed\xce\xf3");
    EXPECT_EQ(ToCodePageExactly(CP_ACP, u"a?"), "a?");
    EXPECT_EQ(ToCodePageExactly(CP_ACP, u"\u00e4"), std::nullopt);  // best fit would give "a"
    EXPECT_EQ(ToCodePageExactly(CP_ACP, u"\u0e01"), std::nullopt);
    EXPECT_EQ(ToCodePageExactly(CP_ACP, lone), std::nullopt);
    EXPECT_EQ(ToCodePageExactly(1252, u"\u00e9"), "\xe9");
    EXPECT_EQ(ToCodePageExactly(1252, u"\u0101"), std::nullopt);  // best fit would give "a"
    EXPECT_EQ(ToCodePageExactly(CP_UTF8, u"a\U0001F600"), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(ToCodePageExactly(CP_UTF8, lone), std::nullopt);
    EXPECT_EQ(TryToAnsi(u"\u00e4"), std::nullopt);
}

TEST(Win32Registry, WritesReadsAndRemovesTreesBelowClassesRoot) {
    const std::string key = "Quorvel.PlatformTest\\Sub";
    ASSERT_TRUE(SetClassesRootValue(key, "", "测试"));
    ASSERT_TRUE(SetClassesRootValue(key, "Named", "value"));
    EXPECT_EQ(GetClassesRootValue(key, ""), "测试");
    EXPECT_EQ(GetClassesRootValue(key, "Named"), "value");
    EXPECT_TRUE(DeleteClassesRootTree("Quorvel.PlatformTest"));
    EXPECT_EQ(GetClassesRootValue(key, ""), std::nullopt);
    EXPECT_TRUE(DeleteClassesRootTree("Quorvel.PlatformTest")) << "a missing key is no failure";
    EXPECT_FALSE(DeleteClassesRootTree("")) << "never the whole of HKEY_CLASSES_ROOT";
}

DWORD WINAPI OneCall(void* arg) {
    const auto* folder = static_cast<const std::u16string*>(arg);
    return static_cast<DWORD>(ftp::PostFtpSit(u"ISUSER", u"a", *folder, u"", u"", u"", 0, 0, 0, 0, 0));
}

// A host calls the component on threads that end afterwards (a server's
// pool): the per-thread state of a call (log file table, caches) goes with
// each thread, and the heap stays whole.
TEST(Win32Threads, ThreadsThatCalledTheComponentEndCleanly) {
    TempDir dir;
    WriteBytes(dir / "ServUDaemon.ini", "[DOMAINS]\r\nDomain1=x|1|0\r\n[Domain1]\r\nUser1=a|1|0\r\n");
    const std::u16string folder = dir.u16();
    for (int i = 0; i < 8; ++i) {
        win32::Handle thread(CreateThread(nullptr, 0, OneCall, const_cast<std::u16string*>(&folder), 0, nullptr));
        ASSERT_TRUE(thread.valid());
        ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
        DWORD result = 99;
        GetExitCodeThread(thread.get(), &result);
        EXPECT_EQ(result, 0u);
    }
    EXPECT_EQ(_heapchk(), _HEAPOK);
}

}  // namespace
}  // namespace quorvel::platform
