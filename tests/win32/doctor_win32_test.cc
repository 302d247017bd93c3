// quorvel doctor's leftovers in the Windows build: the copies the writers
// make here, by their names.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "doctor/checks.h"
#include "doctor/report.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/win32/replace_file.h"
#include "profile/profile.h"
#include "tests/test_support.h"

namespace quorvel::doctor {
namespace {

using test::TempDir;
using test::WriteBytes;

std::vector<std::wstring> g_copies;
void SeeCopy(const std::wstring& copy) { g_copies.push_back(copy); }

TEST(DoctorWin32, TheCopiesOfBothKindsOfWritersAreKnownByTheirNames) {
    TempDir dir;
    const std::string file = (dir / "ServUDaemon.ini").string();
    g_copies.clear();
    win32::SetBeforeWriteHookForTests(&SeeCopy);
    EXPECT_TRUE(profile::WritePrivateProfileString("DOMAINS", "Domain1", "x|1|0", file));
    EXPECT_TRUE(platform::ReplaceFileBytes(file, "[DOMAINS]\r\n"));
    win32::SetBeforeWriteHookForTests(nullptr);
    ASSERT_EQ(g_copies.size(), 2u);
    const auto name = [](const std::wstring& path) { return std::filesystem::path(path).filename().string(); };
    const auto profile_copy = platform::ReplacementCopyOf(name(g_copies[0]));
    ASSERT_TRUE(profile_copy);
    EXPECT_EQ(profile_copy->target, "ServUDaemon.ini");
    EXPECT_EQ(profile_copy->process, 0u) << "made under the file's lock, without its writer's id";
    const auto own_copy = platform::ReplacementCopyOf(name(g_copies[1]));
    ASSERT_TRUE(own_copy);
    EXPECT_EQ(own_copy->target, "ServUDaemon.ini");
    EXPECT_EQ(own_copy->process, GetCurrentProcessId());
    EXPECT_FALSE(platform::LockFileTarget(".ServUDaemon.ini.lock")) << "the locks are mutexes here";
}

TEST(DoctorWin32, CopiesLeftByWritersThatAreGoneAreDeleted) {
    TempDir dir, state;
    WriteBytes(dir / "ServUDaemon.ini", "[DOMAINS]\r\n");
    WriteBytes(dir / "ServUDaemon.ini.quorvel-tmp", "half");
    WriteBytes(dir / "ServUDaemon.ini.quorvel-tmp4000000-0", "half");
    const std::string mine = "ServUDaemon.ini.quorvel-tmp" + std::to_string(GetCurrentProcessId()) + "-3";
    WriteBytes(dir / mine, "being written");
    auto check = [&](bool repair) {
        Report report;
        Context context{report, repair};
        CheckLeftovers({{dir.u16()}, {}, state.u16()}, context);
        std::vector<std::string> kinds;
        for (const Finding& f : report.findings()) kinds.push_back(f.kind + (f.repaired ? "*" : ""));
        return kinds;
    };
    EXPECT_EQ(check(false), (std::vector<std::string>{"leftover.temporary-file", "leftover.temporary-file"}));
    EXPECT_EQ(check(true), (std::vector<std::string>{"leftover.temporary-file*", "leftover.temporary-file*"}));
    EXPECT_FALSE(std::filesystem::exists(dir / "ServUDaemon.ini.quorvel-tmp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "ServUDaemon.ini.quorvel-tmp4000000-0"));
    EXPECT_TRUE(std::filesystem::exists(dir / mine));
    EXPECT_TRUE(check(false).empty());
}

}  // namespace
}  // namespace quorvel::doctor
