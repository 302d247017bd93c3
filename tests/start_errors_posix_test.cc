// Why a program could not start, as the two seam calls that start one say
// it: ExitWindowsEx by the system's error number, WinExec by its own few
// codes; and why a file operation failed, by the same numbers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/process.h"
#include "platform/shutdown.h"
#include "platform/system_error.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

namespace quorvel::platform {
namespace {

using std::filesystem::perms;

class StartErrors : public testing::Test {
protected:
    StartErrors() {
        test::WriteBytes(text_, "not a program\n");
        std::filesystem::permissions(text_, perms::owner_read | perms::owner_write);
        test::WriteBytes(unknown_format_, "\x01\x02 no format the system knows\n");
        std::filesystem::permissions(unknown_format_, perms::owner_all);
    }
    // ExitWindowsEx for a power-off that runs `program`.
    std::uint32_t PowerOff(const std::filesystem::path& program) {
        test::WriteBytes(posix::MachineFolder() / "machine.ini",
                         "[Shutdown]\r\nPowerOff=\"" + program.string() + "\"\r\n");
        return ExitWindowsEx(kExitShutdown | kExitForce);
    }
    std::uint32_t Exec(const std::filesystem::path& program) { return WinExec("\"" + program.string() + "\" now"); }

    test::TempDir dir_;
    test::FreshMachine machine_;
    const std::filesystem::path text_ = dir_ / "notes.txt";
    const std::filesystem::path unknown_format_ = dir_ / "tool";
};

TEST_F(StartErrors, ExitWindowsExGivesTheSystemsErrorForEachCause) {
    EXPECT_EQ(PowerOff(dir_ / "missing"), kErrorFileNotFound);
    EXPECT_EQ(PowerOff(text_ / "below"), kErrorPathNotFound);
    EXPECT_EQ(PowerOff(text_), kErrorAccessDenied);
    EXPECT_EQ(PowerOff(dir_.path()), kErrorAccessDenied);
    EXPECT_EQ(PowerOff(unknown_format_), kErrorBadFormat);
}

TEST_F(StartErrors, WinExecKeepsToItsOwnCodes) {
    EXPECT_EQ(Exec(dir_ / "missing"), 2u);
    EXPECT_EQ(Exec(text_ / "below"), 3u);
    // A program it may not run has a bad format to WinExec.
    EXPECT_EQ(Exec(text_), 11u);
    EXPECT_EQ(Exec(dir_.path()), 11u);
    EXPECT_EQ(Exec(unknown_format_), 11u);
}

TEST_F(StartErrors, FileOperationsTellAMissingFileFromAMissingFolder) {
    const std::string missing = (dir_ / "missing").string();
    EXPECT_EQ(CopyFileReplacing(missing, (dir_ / "copy").string()), FileStatus::kFileNotFound);
    EXPECT_EQ(CopyFileReplacing((dir_ / "none" / "file").string(), (dir_ / "copy").string()),
              FileStatus::kPathNotFound);
    EXPECT_EQ(CopyFileReplacing(text_.string(), (dir_ / "none" / "copy").string()), FileStatus::kPathNotFound);
    EXPECT_EQ(DeleteFileForced(missing), FileStatus::kFileNotFound);
    EXPECT_EQ(DeleteFileForced((dir_ / "none" / "file").string()), FileStatus::kPathNotFound);
    EXPECT_EQ(DeleteFileForced(dir_.path().string()), FileStatus::kFileNotFound);  // a folder is no file
}

}  // namespace
}  // namespace quorvel::platform
