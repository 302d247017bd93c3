// Windows paths on the POSIX machine: drive letters, case-insensitive
// components, and the directory search for one file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/posix/paths.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/text.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

namespace quorvel::posix {
namespace {

namespace fs = std::filesystem;

std::string ReadSettings(const fs::path& machine) { return test::ReadBytes(machine / "machine.ini"); }

TEST(Paths, DriveLettersMapToTheMachinesFolders) {
    const test::FreshMachine fresh;
    const fs::path machine = MachineFolder();
    fs::create_directories(machine / "drives" / "D" / "Serv-U");
    EXPECT_EQ(MapWindowsPath("D:\\Serv-U\\ServUDaemon.ini"), machine / "drives" / "D" / "Serv-U" / "ServUDaemon.ini");
    EXPECT_EQ(MapWindowsPath("d:/serv-u\\x.ini"), machine / "drives" / "D" / "Serv-U" / "x.ini");

    test::TempDir elsewhere;
    test::WriteBytes(machine / "machine.ini", ReadSettings(machine) + "[Drives]\r\nE=" + elsewhere.path().string() + "\r\n");
    EXPECT_EQ(MapWindowsPath("E:\\a\\b"), elsewhere.path() / "a" / "b");
}

TEST(Paths, ComponentsMatchWithoutRegardToCase) {
    test::TempDir dir;
    fs::create_directories(dir / "App");
    test::WriteBytes(dir / "App" / "USERLIST.DAT", "x");
    const std::string base = dir.path().string();
    EXPECT_EQ(MapWindowsPath(base + "\\app\\UserList.dat"), dir / "App" / "USERLIST.DAT");
    EXPECT_EQ(MapWindowsPath(base + "/APP/../app/./userlist.DAT"), dir / "App" / "USERLIST.DAT");
    // What does not exist keeps its name as given, below the folder found.
    EXPECT_EQ(MapWindowsPath(base + "\\app\\New.txt"), dir / "App" / "New.txt");
    EXPECT_EQ(MapWindowsPath(base + "\\missing\\Sub\\F.ini"), dir / "missing" / "Sub" / "F.ini");
}

TEST(Paths, DirectorySearchFindsOrdinaryFilesByTheirStoredName) {
    test::TempDir dir;
    test::WriteBytes(dir / "ServUDaemon.ini", "[GLOBAL]\r\n");
    test::WriteBytes(dir / ".hidden.ini", "");
    fs::create_directories(dir / "Folder.ini");
    test::WriteBytes(dir / "网站.ini", "");
    const std::string base = platform::ToAnsi(dir.u16());
    EXPECT_EQ(platform::FindFileName(base + "\\servudaemon.INI"), "ServUDaemon.ini");
    EXPECT_EQ(platform::FindFileName(base + "\\.hidden.ini"), std::nullopt);
    EXPECT_EQ(platform::FindFileName(base + "\\Folder.ini"), std::nullopt);
    EXPECT_EQ(platform::FindFileName(base + "\\*.ini"), std::nullopt);
    EXPECT_EQ(platform::FindFileName(base + "\\missing.ini"), std::nullopt);
    // A name in the code page reaches the UTF-8 name on disk and comes back in the code page.
    EXPECT_EQ(platform::FindFileName(base + "\\" + platform::ToAnsi(u"网站.ini")), platform::ToAnsi(u"网站.ini"));
}

}  // namespace
}  // namespace quorvel::posix
