// Calls killed at every step boundary (the host as a child process, ended by
// the frame's test hook), then the next call: the stores must be as if the
// killed call had not run or had finished, with its own values only; and
// ADDUSERs of one name racing in several processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "accounts/post_nt_user.h"
#include "automation/objects.h"
#include "backup/backup_sit.h"
#include "platform/utf8.h"
#include "run_process.h"
#include "tests/iis_test_machine.h"
#include "web/post_web_sit.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using platform::FromUtf8;
using automation::GetObject;
using automation::Object;
using platform::ToUtf8;
using test::ProcessResult;
using test::RunProcess;
using test::LogWatch;
using test::MessageOf;

constexpr int kKilled = -1;  // RunProcess's answer for a child ended by a signal
constexpr int kMostSteps = 200;

class Interrupted : public testing::Test {
protected:
    void SetUp() override {
        const ProcessResult r = RunProcess({QUORVEL_HOST_PATH, "--machine", machine_.path().string(), "regsvr",
                                            QUORVEL_LIBRARY_PATH});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }

    // `quorvel call ARGS` ended after its n-th step: true when the hook
    // killed it, false when it ran to its end first.
    bool CallKilledAfter(int n, std::vector<std::string> args) {
        args.insert(args.begin(), {QUORVEL_HOST_PATH, "--machine", machine_.path().string(), "call"});
        const ProcessResult r = RunProcess(args, {"QUORVEL_TEST_CRASH_AFTER_STEP=" + std::to_string(n)});
        EXPECT_TRUE(r.exit_code == 0 || r.exit_code == kKilled) << r.err;
        return r.exit_code == kKilled;
    }

    bool RecordLeft(const std::string& method) const {
        return fs::exists(machine_.path() / "component" / (method + ".intent"));
    }

    // The repair's line, when the call wrote one among `lines`.
    static int RepairLines(const std::vector<std::string>& lines, const std::string& label) {
        int count = 0;
        for (const std::string& line : lines)
            if (MessageOf(line).rfind("错误号：5，", 0) == 0 && line.find(label) != std::string::npos) ++count;
        return count;
    }

    test::FreshMachine machine_;
};

// --- PostWebSit ---------------------------------------------------------

struct SiteValues {
    std::string name, path, bindings, access, user, password;
    std::int32_t links, width;
};

SiteValues SiteOf(const std::string& name, int n) {
    const std::string tag = std::to_string(n);
    return {name, "D:\\web\\" + name + tag, ":80:" + name + tag + "|:81:", n % 2 ? "RW" : "D", "IUSR_" + tag,
            "pw" + tag, 10 + n, 100 + n};
}

std::vector<std::string> SiteArgs(const std::string& action, const SiteValues& v) {
    return {"PostWebSit", action, v.name, v.path, "index.htm", ".asp,x.dll", v.bindings, v.access, "D:\\logs",
            std::to_string(v.links), "60", std::to_string(v.width), "5", v.user, v.password};
}

std::int32_t SiteCall(const std::string& action, const SiteValues& v) {
    return web::PostWebSit(FromUtf8(action), FromUtf8(v.name), FromUtf8(v.path), u"index.htm", u".asp,x.dll",
                           FromUtf8(v.bindings), FromUtf8(v.access), u"D:\\logs", v.links, 60, v.width, 5,
                           FromUtf8(v.user), FromUtf8(v.password));
}

// The number of the site of that name, 0 when there is none.
int SiteNumber(const std::string& name) {
    int number = 0;
    for (const Object& child : GetObject(u"IIS://WEBHOST/W3SVC").Children()) {
        ++number;
        if (child.Get(u"ServerComment").Text() == FromUtf8(name)) return std::stoi(ToUtf8(child.Get(u"Name").Text()));
    }
    return 0;
}

// Every setting of site and root holds one call's values.
void ExpectSite(int number, const SiteValues& v, bool started) {
    const std::u16string path = u"IIS://WEBHOST/W3SVC/" + FromUtf8(std::to_string(number));
    const Object site = GetObject(path);
    EXPECT_EQ(ToUtf8(site.Get(u"ServerComment").Text()), v.name);
    EXPECT_EQ(site.Get(u"ServerBindings").TextList().at(0), FromUtf8(v.bindings.substr(0, v.bindings.find('|'))));
    EXPECT_EQ(site.Get(u"MaxConnections").Long(), v.links);
    EXPECT_EQ(site.Get(u"MaxBandwidth").Long(), v.width * 1024);
    EXPECT_EQ(ToUtf8(site.Get(u"AnonymousUserName").Text()), v.user);
    EXPECT_EQ(ToUtf8(site.Get(u"AnonymousUserPass").Text()), v.password);
    if (started) {
        EXPECT_EQ(site.Get(u"ServerState").Long(), 2);
    }
    const Object root = GetObject(path + u"/ROOT");
    EXPECT_EQ(ToUtf8(root.Get(u"Path").Text()), v.path);
    EXPECT_EQ(root.Get(u"AccessWrite").Bool(), v.access.find('W') != std::string::npos);
    EXPECT_EQ(root.Get(u"EnableDirBrowsing").Bool(), v.access.find('D') != std::string::npos);
    EXPECT_EQ(root.Get(u"AppIsolated").Long(), 2);
}

TEST_F(Interrupted, AnAddKilledAtAnyStepIsFinishedOrUndoneByTheNextCall) {
    int n = 1;
    for (; n < kMostSteps; ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n));
        const SiteValues killed = SiteOf("s" + std::to_string(n), n);
        if (!CallKilledAfter(n, SiteArgs("ADD", killed))) break;
        const bool left = RecordLeft("PostWebSit");

        // The next call, of another site: the repair comes first, and each
        // site ends up with its own values.
        const SiteValues next = SiteOf("t" + std::to_string(n), 1000 + n);
        LogWatch log;
        ASSERT_EQ(SiteCall("ADD", next), 0);
        EXPECT_EQ(RepairLines(log.NewLines(), "PostWebSit函数"), left ? 1 : 0);
        EXPECT_FALSE(RecordLeft("PostWebSit"));
        ExpectSite(SiteNumber(next.name), next, true);
        if (const int number = SiteNumber(killed.name)) {
            ExpectSite(number, killed, true);
        } else {
            // Undone: the name can be added as if never tried.
            ASSERT_EQ(SiteCall("ADD", killed), 0);
            ExpectSite(SiteNumber(killed.name), killed, true);
        }
        // The next round starts from an empty service again.
        const Object service = GetObject(u"IIS://WEBHOST/W3SVC");
        for (const Object& site : service.Children()) service.Call(u"Delete", {u"IIsWebServer", site.Get(u"Name")});
    }
    EXPECT_GT(n, 30);  // the hook reached every step of an ADD
    EXPECT_LT(n, kMostSteps);
}

TEST_F(Interrupted, AnEditKilledAtAnyStepLeavesTheOldSettingsOrTheNewOnes) {
    SiteValues current = SiteOf("e", 0);
    ASSERT_EQ(SiteCall("ADD", current), 0);
    const int number = SiteNumber("e");
    int n = 1;
    for (; n < kMostSteps; ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n));
        const SiteValues edit = SiteOf("e", n);
        if (!CallKilledAfter(n, SiteArgs("EDIT", edit))) {
            current = edit;
            break;
        }
        ASSERT_EQ(SiteCall("ISSEARCH", current), 0);
        EXPECT_FALSE(RecordLeft("PostWebSit"));
        const Object site = GetObject(u"IIS://WEBHOST/W3SVC/" + FromUtf8(std::to_string(number)));
        if (site.Get(u"MaxConnections").Long() == edit.links) current = edit;
        ExpectSite(number, current, false);
    }
    EXPECT_GT(n, 25);
    EXPECT_LT(n, kMostSteps);
    // Only the password differs: still all or nothing.
    SiteValues password_only = current;
    password_only.password = "changed";
    for (int k = 1; k < kMostSteps; ++k) {
        if (!CallKilledAfter(k, SiteArgs("EDIT", password_only))) break;
        SCOPED_TRACE("password only, killed after step " + std::to_string(k));
        ASSERT_EQ(SiteCall("ISSEARCH", current), 0);
        const Object site = GetObject(u"IIS://WEBHOST/W3SVC/" + FromUtf8(std::to_string(number)));
        if (site.Get(u"AnonymousUserPass").Text() == u"changed") current = password_only;
        ExpectSite(number, current, false);
    }
}

// --- PostNTUser ---------------------------------------------------------

Object Account(const std::string& name) { return GetObject(u"WinNT://WEBHOST/" + FromUtf8(name) + u",user"); }

bool PasswordIs(const std::string& name, const std::string& password) {
    try {
        Account(name).Call(u"ChangePassword", {FromUtf8(password), FromUtf8(password)});
        return true;
    } catch (const StepError&) {
        return false;
    }
}

bool IsMember(const std::string& group, const std::string& name) {
    return GetObject(u"WinNT://WEBHOST/" + FromUtf8(group) + u",group")
        .Call(u"IsMember", {u"WinNT://WEBHOST/" + FromUtf8(name)})
        .Bool();
}

TEST_F(Interrupted, AnAddUserKilledAtAnyStepNeverBlocksTheNextOne) {
    int n = 1;
    for (; n < kMostSteps; ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n));
        const std::string name = "u" + std::to_string(n);
        if (!CallKilledAfter(n, {"PostNTUser", "ADDUSER", "Killed", name, "Secret-1", "Administrators"})) break;
        LogWatch log;
        const std::int32_t result = accounts::PostNTUser(u"ADDUSER", u"Next", FromUtf8(name), u"Secret-2", u"Users");
        EXPECT_FALSE(RecordLeft("PostNTUser"));
        const Object user = Account(name);
        if (result == 0) {
            // Undone, and made again by the next call alone.
            EXPECT_EQ(user.Get(u"FullName").Text(), u"Next");
            EXPECT_TRUE(PasswordIs(name, "Secret-2"));
            EXPECT_TRUE(IsMember("Users", name));
            EXPECT_FALSE(IsMember("Administrators", name));
            EXPECT_EQ(user.Get(u"UserFlags").Long(), 0x201 ^ 0x10000 ^ 0x40);
        } else {
            // Killed after its last step: finished, with its own values.
            ASSERT_EQ(result, 2);
            EXPECT_EQ(user.Get(u"FullName").Text(), u"Killed");
            EXPECT_TRUE(PasswordIs(name, "Secret-1"));
            EXPECT_TRUE(IsMember("Administrators", name));
            EXPECT_FALSE(IsMember("Users", name));
        }
        EXPECT_LE(RepairLines(log.NewLines(), "PostNTUser函数"), 1);
    }
    EXPECT_GT(n, 15);
    EXPECT_LT(n, kMostSteps);
}

TEST_F(Interrupted, AnEditUserKilledAtAnyStepIsAllOrNothing) {
    ASSERT_EQ(accounts::PostNTUser(u"ADDUSER", u"F0", u"ed", u"Secret-0", u""), 0);
    std::string full_name = "F0";
    std::string password = "Secret-0";
    ASSERT_EQ(accounts::PostNTUser(u"STOPUSER", u"", u"ed", u"", u""), 0);  // each EDITUSER enables it again
    std::int32_t flags = Account("ed").Get(u"UserFlags").Long();
    int n = 1;
    for (; n < kMostSteps; ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n));
        const std::string new_name = "F" + std::to_string(n);
        const std::string new_password = "Secret-" + std::to_string(n);
        if (!CallKilledAfter(n, {"PostNTUser", "EDITUSER", new_name, "ed", new_password, ""})) {
            EXPECT_TRUE(PasswordIs("ed", new_password));
            break;
        }
        ASSERT_EQ(accounts::PostNTUser(u"EDITUSERTOGROUP", u"", u"ed", u"", u""), 0);  // changes nothing itself
        EXPECT_FALSE(RecordLeft("PostNTUser"));
        const Object user = Account("ed");
        if (PasswordIs("ed", new_password)) {
            full_name = new_name;
            password = new_password;
            flags = (flags ^ 0x10000 ^ 0x40) & ~0x2;
        } else {
            EXPECT_TRUE(PasswordIs("ed", password));
        }
        EXPECT_EQ(ToUtf8(user.Get(u"FullName").Text()), full_name);
        EXPECT_EQ(ToUtf8(user.Get(u"Description").Text()), full_name);
        EXPECT_EQ(user.Get(u"UserFlags").Long(), flags);
    }
    EXPECT_GT(n, 10);
    EXPECT_LT(n, kMostSteps);
}

TEST_F(Interrupted, RacingAddUsersOfOneNameHaveOneOutcome) {
    const char* groups[] = {"Administrators", "Users", "Guests"};
    constexpr int kRacers = 6;
    for (int round = 0; round < 4; ++round) {
        const std::u16string name = u"race" + FromUtf8(std::to_string(round));
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<pid_t> racers;
        for (int k = 0; k < kRacers; ++k) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(go[1]);
                char c;
                (void)!read(go[0], &c, 1);  // all start together
                const std::u16string tag = FromUtf8(std::to_string(k));
                _exit(accounts::PostNTUser(u"ADDUSER", u"P" + tag, name, u"Secret-" + tag,
                                           FromUtf8(groups[k % 3])));
            }
            racers.push_back(pid);
        }
        close(go[0]);
        close(go[1]);
        int winner = -1;
        for (int k = 0; k < kRacers; ++k) {
            int status = 0;
            ASSERT_EQ(waitpid(racers[k], &status, 0), racers[k]);
            ASSERT_TRUE(WIFEXITED(status));
            if (WEXITSTATUS(status) == 0) {
                EXPECT_EQ(winner, -1) << "two winners";
                winner = k;
            } else {
                EXPECT_EQ(WEXITSTATUS(status), 2);
            }
        }
        ASSERT_NE(winner, -1);
        const std::string user = ToUtf8(name);
        EXPECT_EQ(Account(user).Get(u"FullName").Text(), u"P" + FromUtf8(std::to_string(winner)));
        EXPECT_TRUE(PasswordIs(user, "Secret-" + std::to_string(winner)));
        for (int g = 0; g < 3; ++g) EXPECT_EQ(IsMember(groups[g], user), g == winner % 3) << groups[g];
    }
}

// --- BackupSit edition 2 ------------------------------------------------

class InterruptedBackup : public Interrupted {
protected:
    void SetUp() override {
        Interrupted::SetUp();
        fs::create_directories(work_.path() / "MDaemon" / "App");
        fs::create_directories(work_.path() / "bak");
    }
    fs::path Live(const char* file) const { return work_.path() / "MDaemon" / "App" / file; }
    fs::path Bak(const char* file) const { return work_.path() / "bak" / file; }
    void Files(const std::string& users, const std::string& domains, const std::string& bak_users,
               const std::string& bak_domains) const {
        test::WriteBytes(Live("USERLIST.DAT"), users);
        test::WriteBytes(Live("Domains.dat"), domains);
        test::WriteBytes(Bak("2_U_b.bak"), bak_users);
        test::WriteBytes(Bak("2_D_b.bak"), bak_domains);
    }
    std::vector<std::string> Args(const std::string& action) const {
        return {"BackupSit", action, "2", "b", (work_.path() / "MDaemon").string(), (work_.path() / "bak").string()};
    }
    std::int32_t NextCall() const {
        return backup::BackupSit(u"none", 2, u"b", work_.u16() + u"/MDaemon", work_.u16() + u"/bak");
    }
    test::TempDir work_;
};

TEST_F(InterruptedBackup, ARestoreKilledAtAnyStepRestoresBothFilesOrNeither) {
    int n = 1;
    for (; n < kMostSteps; ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n));
        Files("users-old", "domains-old", "users-bak", "domains-bak");
        if (!CallKilledAfter(n, Args("RESTORE"))) break;
        LogWatch log;
        ASSERT_EQ(NextCall(), 0);
        EXPECT_FALSE(RecordLeft("BackupSit"));
        const std::string users = test::ReadBytes(Live("USERLIST.DAT"));
        const std::string domains = test::ReadBytes(Live("Domains.dat"));
        EXPECT_TRUE((users == "users-old" && domains == "domains-old") ||
                    (users == "users-bak" && domains == "domains-bak"))
            << users << " / " << domains;
        EXPECT_LE(RepairLines(log.NewLines(), "BackupSit函数"), 1);
    }
    EXPECT_GT(n, 3);
    EXPECT_LT(n, kMostSteps);
}

TEST_F(InterruptedBackup, ABackupKilledAtAnyStepLeavesAPairOfOneMoment) {
    int n = 1;
    for (; n < kMostSteps; ++n) {
        SCOPED_TRACE("killed after step " + std::to_string(n));
        Files("users-now", "domains-now", "users-then", "domains-then");
        if (!CallKilledAfter(n, Args("BACKUP"))) break;
        ASSERT_EQ(NextCall(), 0);
        const std::string users = test::ReadBytes(Bak("2_U_b.bak"));
        const std::string domains = test::ReadBytes(Bak("2_D_b.bak"));
        EXPECT_TRUE((users == "users-then" && domains == "domains-then") ||
                    (users == "users-now" && domains == "domains-now"))
            << users << " / " << domains;
    }
    EXPECT_GT(n, 3);
    EXPECT_LT(n, kMostSteps);
}

// A record that is not one (written by hand) tells nothing to repair.
TEST_F(InterruptedBackup, ARecordThatCannotBeReadIsDroppedWithOneLine) {
    Files("users", "domains", "users-bak", "domains-bak");
    fs::create_directories(machine_.path() / "component");
    test::WriteBytes(machine_.path() / "component" / "BackupSit.intent", "not a record");
    LogWatch log;
    EXPECT_EQ(NextCall(), 0);
    EXPECT_EQ(RepairLines(log.NewLines(), "BackupSit函数"), 1);
    EXPECT_FALSE(RecordLeft("BackupSit"));
}

}  // namespace
}  // namespace quorvel
