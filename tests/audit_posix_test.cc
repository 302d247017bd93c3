// The audit trail of the directory methods on the stand-ins, of calls in
// many processes at once, and the host's dry run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "accounts/post_nt_user.h"
#include "component/frame/audit.h"
#include "platform/posix/runtime/machine_folder.h"
#include "run_process.h"
#include "tests/audit_watch.h"
#include "tests/iis_test_machine.h"
#include "web/post_web_sit.h"

namespace quorvel {
namespace {

using test::AuditWatch;
using test::ProcessResult;
using test::RunProcess;
using test::Tabbed;

// Fields of a change: OBJECT ITEM OLD NEW.
std::string Change(const std::string& object, const std::string& item, const std::string& before,
                   const std::string& after) {
    return Tabbed({object, item, before, after});
}

class AuditDirectoryTest : public testing::Test {
protected:
    test::FreshMachine machine_;
};

TEST_F(AuditDirectoryTest, ASiteItsRootAndItsStateWithTheAnonymousPasswordMasked) {
    AuditWatch watch;
    ASSERT_EQ(web::PostWebSit(u"ADD", u"alpha", u"D:\\web\\alpha", u"index.htm", u".asp,C:\\asp.dll,1,GET|.x,y",
                              u":80:alpha.example|:8080:", u"RW", u"D:\\logs", 200, 900, 100, 50, u"IUSR_X",
                              u"pw-secret"),
              0);
    ASSERT_EQ(web::PostWebSit(u"STOP", u"alpha", u"", u"", u"", u"", u"", u"", 0, 0, 0, 0, u"", u""), 0);
    ASSERT_EQ(web::PostWebSit(u"ISSEARCH", u"alpha", u"", u"", u"", u"", u"", u"", 0, 0, 0, 0, u"", u""), 0);
    ASSERT_EQ(web::PostWebSit(u"DEL", u"alpha", u"", u"", u"", u"", u"", u"", 0, 0, 0, 0, u"", u""), 0);
    const std::string site = "IIS://WEBHOST/W3SVC/1";
    const std::string root = site + "/root";
    const std::vector<std::string> lines = watch.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              Tabbed({"PostWebSit", "ADD", "alpha", "0",
                      Change(site, "", "-", "IISWebServer"),
                      Change(site, "ServerComment", "-", "alpha"),
                      Change(site, "Serverbindings", "-", ":80:alpha.example|:8080:"),
                      Change(site, "DefaultDoc", "-", "index.htm"),
                      Change(site, "LogFileDirectory", "-", "D:\\logs"),
                      Change(site, "ConnectionTimeout", "-", "900"),
                      Change(site, "CpuLimitLogEvent", "-", "50000"),
                      Change(site, "MaxConnections", "-", "200"),
                      Change(site, "MaxBandwidth", "-", "102400"),
                      Change(site, "CpuLimitsEnabled", "-", "True"),
                      Change(site, "ScriptMaps", "-", ".asp,C:\\asp.dll,1,GET|.x,y"),
                      Change(site, "AnonymousUserName", "-", "IUSR_X"),
                      Change(site, "AnonymousUserPass", "-", "***"),
                      Change(root, "", "-", "IISWebVirtualDir"),
                      Change(root, "AppCreate2()", "-", "2"),
                      Change(root, "Path", "-", "D:\\web\\alpha"),
                      Change(root, "EnableDefaultDoc", "-", "True"),
                      Change(root, "AccessWrite", "-", "True"),
                      Change(root, "EnableDirBrowsing", "-", "False"),
                      Change(root, "AccessRead", "-", "True"),
                      Change(root, "AccessScript", "-", "True"),
                      Change(root, "AccessExecute", "-", "False"),
                      Change(root, "AppIsolated", "-", "2"),
                      Change(root, "AppFriendlyName", "-", "应用程序"),
                      Change(site, "Start()", "-", "")}));
    EXPECT_EQ(lines[1], Tabbed({"PostWebSit", "STOP", "alpha", "0", Change(site, "Stop()", "-", "")}));
    EXPECT_EQ(lines[2], Tabbed({"PostWebSit", "DEL", "alpha", "0", Change(site, "", "IISWebServer", "-")}));
    EXPECT_EQ(test::AuditBytes().find("pw-secret"), std::string::npos);
}

TEST_F(AuditDirectoryTest, AnAccountItsPasswordMaskedAndOnlyWhatAnEditChanged) {
    AuditWatch watch;
    ASSERT_EQ(accounts::PostNTUser(u"ADDUSER", u"张三", u"zhang", u"Secret-1", u"Users"), 0);
    ASSERT_EQ(accounts::PostNTUser(u"EDITUSER", u"张三", u"zhang", u"Secret-2", u""), 0);
    ASSERT_EQ(accounts::PostNTUser(u"ADDUSERTOGROUP", u"", u"zhang", u"", u"Guests"), 0);
    ASSERT_EQ(accounts::PostNTUser(u"ADDUSER", u"", u"zhang", u"Secret-1", u"Users"), 2);  // exists: no line
    ASSERT_EQ(accounts::PostNTUser(u"DELUSER", u"", u"zhang", u"", u""), 0);
    const std::string user = "WinNT://WEBHOST/zhang";
    const std::vector<std::string> lines = watch.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], Tabbed({"PostNTUser", "ADDUSER", "zhang", "0",
                                Change(user, "", "-", "user"),
                                Change(user, "SetPassword()", "-", "***"),
                                Change(user, "FullName", "-", "张三"),
                                Change(user, "Description", "-", "张三"),
                                Change(user, "userFlags", "-", "66113"),
                                Change(user, "AccountDisabled", "-", "False"),
                                Change("WinNT://WEBHOST/Users", "Add()", "-", user)}));
    EXPECT_EQ(lines[1], Tabbed({"PostNTUser", "EDITUSER", "zhang", "0",
                                Change(user, "SetPassword()", "-", "***"),
                                Change(user, "userFlags", "66113", "513")}));
    EXPECT_EQ(lines[2], Tabbed({"PostNTUser", "ADDUSERTOGROUP", "zhang", "0",
                                Change("WinNT://WEBHOST/Guests", "Add()", "-", user)}));
    EXPECT_EQ(lines[3], Tabbed({"PostNTUser", "DELUSER", "zhang", "0", Change(user, "", "user", "-")}));
    EXPECT_EQ(test::AuditBytes().find("Secret-"), std::string::npos);
}

// A machine made by the host, with the component registered on it; the
// logs in a folder of their own.
class AuditHostTest : public testing::Test {
protected:
    AuditHostTest() {
        const ProcessResult r = RunProcess({QUORVEL_HOST_PATH, "init", "--example", machine().string()});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        std::filesystem::create_directories(logs());
    }
    std::filesystem::path machine() const { return work_ / "machine"; }
    std::filesystem::path logs() const { return work_ / "logs"; }
    ProcessResult Call(std::vector<std::string> args) const {
        args.insert(args.begin(), {QUORVEL_HOST_PATH, "--machine", machine().string(), "call"});
        return RunProcess(args, {"QUORVEL_LOG_FOLDER=" + logs().string()});
    }
    std::string Audit() const { return test::ReadBytes(logs() / "DllAudit.log"); }
    // Every file under the machine folder with its bytes.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(machine()))
            if (entry.is_regular_file()) files[entry.path().string()] = test::ReadBytes(entry.path());
        return files;
    }
    test::TempDir work_;
};

// Calls in many processes at once, each line long: every line whole.
TEST_F(AuditHostTest, LinesOfCallsInManyProcessesStayWhole) {
    constexpr int kProcesses = 6;
    constexpr int kCalls = 4;
    std::string access;
    for (int k = 0; k < 40; ++k) access += (k > 0 ? "," : "") + std::string("D:\\ftp\\shared\\folder") + std::to_string(k) + "|RWAMLCDP";
    std::vector<std::thread> threads;
    for (int p = 0; p < kProcesses; ++p) {
        threads.emplace_back([&, p] {
            for (int n = 0; n < kCalls; ++n) {
                const std::string user = "u" + std::to_string(p) + "_" + std::to_string(n);
                const ProcessResult r = Call({"PostFtpSit", "ADD", user, "D:\\Serv-U", "pw", "D:\\ftp\\" + user, access});
                EXPECT_EQ(r.out, "0\n") << r.err;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::vector<std::string> lines = test::SplitAuditLines(Audit());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kProcesses * kCalls));
    std::map<std::u16string, int> targets;
    for (const std::string& raw : lines) {
        const std::optional<AuditLine> line = ParseAuditLine(raw);
        ASSERT_TRUE(line) << raw.substr(0, 100);
        EXPECT_EQ(line->action, u"ADD");
        EXPECT_GE(line->changes.size(), 50u);  // the entry, 40 rules, 9 more keys (and the reload flag once)
        ++targets[line->target];
    }
    EXPECT_EQ(targets.size(), static_cast<size_t>(kProcesses * kCalls));
}

TEST_F(AuditHostTest, ADryRunPrintsTheLinesAndChangesNoByte) {
    const std::map<std::string, std::string> before = Snapshot();
    ProcessResult r = Call({"--dry-run", "PostFtpSit", "ADD", "carol", "D:\\Serv-U", "pw-secret", "D:\\ftp\\carol",
                            "D:\\ftp\\carol|RL"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("PostFtpSit\tADD\tcarol\t0\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("D:\\Serv-U\\ServUDaemon.ini\t[USER=carol|1]Password\t-\t***"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("pw-secret"), std::string::npos);
    EXPECT_NE(r.err.find("result: 0"), std::string::npos) << r.err;

    // A site and an account: the directory stores are copied too.
    r = Call({"--dry-run", "PostNTUser", "ADDUSER", "Carol", "carol", "Secret-1", "Users"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("SetPassword()\t-\t***"), std::string::npos) << r.out;
    // A refused call prints its error line and no audit line.
    r = Call({"--dry-run", "PostFtpSit", "DEL", "nobody", "D:\\Serv-U"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("result: 3"), std::string::npos) << r.err;
    // What reaches outside the machine is not tried.
    r = Call({"--dry-run", "SendMail", "a@example.com", "b@example.com", "s", "b", "127.0.0.1"});
    EXPECT_EQ(r.exit_code, 64);

    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(std::filesystem::exists(logs() / "DllAudit.log"));
    EXPECT_FALSE(std::filesystem::exists(logs() / "DllErr.log"));

    // On a machine the real call changed, the dry run starts from its state.
    r = Call({"PostFtpSit", "ADD", "carol", "D:\\Serv-U", "pw-secret", "D:\\ftp\\carol", "D:\\ftp\\carol|RL"});
    EXPECT_EQ(r.out, "0\n") << r.err;
    EXPECT_NE(Audit().find("\tPostFtpSit\tADD\tcarol\t0\t"), std::string::npos);
    r = Call({"--dry-run", "PostFtpSit", "MPASS", "carol", "D:\\Serv-U", "other"});
    EXPECT_EQ(r.out.substr(r.out.find("\tD:")), "\tD:\\Serv-U\\ServUDaemon.ini\t[USER=carol|1]Password\t***\t***\n");
}

}  // namespace
}  // namespace quorvel
