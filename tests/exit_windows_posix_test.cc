// ExitWindows on the POSIX machine: the [Shutdown] commands of machine.ini.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "host/exit_windows.h"
#include "support/computer_name.h"
#include "platform/posix/runtime/machine_folder.h"
#include "test_support.h"
#include "tests/audit_watch.h"
#include "tests/iis_test_machine.h"

namespace quorvel::host {
namespace {

using test::LogWatch;
using test::MessageOf;

class ExitWindowsTest : public testing::Test {
protected:
    void Configure(const std::string& shutdown_section) {
        test::WriteBytes(posix::MachineFolder() / "machine.ini", "[Shutdown]\r\n" + shutdown_section);
    }
    std::filesystem::path Marker(const std::string& name) const { return dir_ / name; }
    // A command that leaves a file named after what it was started for.
    std::string Touch(const std::string& name) const { return "touch \"" + Marker(name).string() + "\""; }
    static bool Eventually(const std::filesystem::path& file) {
        for (int i = 0; i < 500 && !std::filesystem::exists(file); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return std::filesystem::exists(file);
    }
    test::TempDir dir_;
    test::FreshMachine machine_;  // whose settings Configure replaces
};

TEST_F(ExitWindowsTest, EachActionWordStartsItsCommandInAnyCase) {
    Configure("PowerOff=" + Touch("off") + "\r\nReboot=" + Touch("reboot") + "\r\n");
    LogWatch log;
    test::AuditWatch audit;
    EXPECT_EQ(ExitWindows(u"ShutDown"), 0);
    EXPECT_TRUE(Eventually(Marker("off")));
    EXPECT_EQ(ExitWindows(u"reboot"), 0);
    EXPECT_TRUE(Eventually(Marker("reboot")));
    std::filesystem::remove(Marker("off"));
    std::filesystem::remove(Marker("reboot"));
    // Any other word only enables the privilege.
    EXPECT_EQ(ExitWindows(u"PRIVILEGE"), 0);
    EXPECT_EQ(ExitWindows(u" REBOOT"), 0);
    EXPECT_EQ(ExitWindows(u""), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(std::filesystem::exists(Marker("off")));
    EXPECT_FALSE(std::filesystem::exists(Marker("reboot")));
    EXPECT_TRUE(log.NewLines().empty());
    // A request is a change of its own; the other words ask for nothing.
    const std::string computer = platform::ToUtf8(GetLocalComputerName());
    EXPECT_EQ(audit.Lines(), (std::vector<std::string>{test::Tabbed({"ExitWindows", "SHUTDOWN", computer, "0"}),
                                                       test::Tabbed({"ExitWindows", "REBOOT", computer, "0"})}));
}

TEST_F(ExitWindowsTest, TheCommandIsNotWaitedFor) {
    // The command records its process id and goes on running.
    const std::string pid_file = Marker("pid").string();
    Configure("Reboot=sh -c \"echo $$ > " + pid_file + ".tmp; mv " + pid_file + ".tmp " + pid_file +
              "; exec sleep 30\"\r\n");
    EXPECT_EQ(ExitWindows(u"REBOOT"), 0);
    ASSERT_TRUE(Eventually(Marker("pid")));
    const pid_t pid = std::stoi(test::ReadBytes(Marker("pid")));
    EXPECT_EQ(kill(pid, 0), 0) << "the command should still run after the call returned";
    kill(pid, SIGKILL);
}

TEST_F(ExitWindowsTest, ARefusedRequestIsResultFourWithTheSystemsError) {
    Configure("Reboot=" + Touch("reboot") + "\r\n");
    LogWatch log;
    test::AuditWatch audit;
    EXPECT_EQ(ExitWindows(u"SHUTDOWN"), 4);  // nothing configured for a power-off
    EXPECT_TRUE(audit.Lines().empty());  // nothing was asked for
    auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ExitWindows函数"), std::string::npos);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：50，错误源：ExitWindowsEx，错误描述：不支持该请求。");

    Configure("PowerOff=/no/such/program now\r\n");
    LogWatch missing;
    EXPECT_EQ(ExitWindows(u"shutdown"), 4);
    lines = missing.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：2，错误源：ExitWindowsEx，错误描述：系统找不到指定的文件。");
    EXPECT_FALSE(std::filesystem::exists(Marker("reboot")));
}

}  // namespace
}  // namespace quorvel::host
