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

// The folder is kept between uses and must still follow every way a process
// changes its environment: a new value, a value put in place by putenv,
// another variable removed before it, and the variable removed.
TEST(Paths, TheMachineFolderFollowsTheEnvironment) {
    const test::FreshMachine fresh;
    const std::string saved_xdg = std::getenv("XDG_DATA_HOME") != nullptr ? std::getenv("XDG_DATA_HOME") : "";
    test::TempDir a, b, c, xdg;
    setenv("QUORVEL_TEST_EARLIER", "x", 1);
    setenv("QUORVEL_MACHINE", a.path().c_str(), 1);
    EXPECT_EQ(MachineFolder(), a.path());
    setenv("QUORVEL_MACHINE", b.path().c_str(), 1);
    EXPECT_EQ(MachineFolder(), b.path());
    static std::string put;  // putenv keeps the text itself
    put = "QUORVEL_MACHINE=" + c.path().string();
    putenv(put.data());
    EXPECT_EQ(MachineFolder(), c.path());
    unsetenv("QUORVEL_TEST_EARLIER");
    EXPECT_EQ(MachineFolder(), c.path());
    setenv("QUORVEL_MACHINE", a.path().c_str(), 1);
    EXPECT_EQ(MachineFolder(), a.path());
    setenv("XDG_DATA_HOME", xdg.path().c_str(), 1);
    unsetenv("QUORVEL_MACHINE");
    EXPECT_EQ(MachineFolder(), xdg.path() / "quorvel" / "machine");
    if (saved_xdg.empty()) {
        unsetenv("XDG_DATA_HOME");
    } else {
        setenv("XDG_DATA_HOME", saved_xdg.c_str(), 1);
    }
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
