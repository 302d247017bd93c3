// quorvel doctor on the POSIX machine: the directory stand-ins, the
// component's own leftovers, the host's verb as users run it, and repairs
// that race the methods or are killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "automation/objects.h"
#include "doctor/checks.h"
#include "doctor/report.h"
#include "ftp/post_ftp_sit.h"
#include "mail/files/user_list.h"
#include "mail/post_email.h"
#include "platform/file_lock.h"
#include "platform/folders.h"
#include "platform/posix/atomic_file.h"
#include "platform/text.h"
#include "run_process.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

extern char** environ;

namespace quorvel::doctor {
namespace {

using automation::GetObject;
using automation::Object;
using test::ProcessResult;
using test::ReadBytes;
using test::RunProcess;
using test::WriteBytes;

std::vector<std::string> Summary(const Report& report) {
    std::vector<std::string> out;
    for (const Finding& f : report.findings())
        out.push_back(f.kind + ":" + platform::ToUtf8(f.object) + (f.repaired ? "*" : f.repair.empty() ? "" : "+"));
    return out;
}

// ---- The directories, through the object layer and the stand-ins

class DoctorDirectories : public testing::Test {
protected:
    Report Check(void (*check)(Context&), bool repair) {
        Report report;
        Context context{report, repair};
        check(context);
        return report;
    }
    test::FreshMachine machine_;
};

TEST_F(DoctorDirectories, FindsSitesPostWebSitCannotFindOrThatServeNothing) {
    const Object service = GetObject(u"IIS://WEBHOST/W3SVC");
    auto site = [&](int number, const std::u16string& comment, bool root) {
        const Object made = service.Call(u"Create", {u"IIsWebServer", number}).AsObject();
        if (!comment.empty()) {
            made.Put(u"ServerComment", comment);
            made.Put(u"ServerBindings", std::vector<std::u16string>{u":80:" + comment});
        }
        made.Call(u"SetInfo");
        if (!root) return;
        const Object dir = made.Call(u"Create", {u"IIsWebVirtualDir", u"ROOT"}).AsObject();
        dir.Put(u"Path", platform::FromUtf8(machine_.path().string()));
        dir.Call(u"SetInfo");
    };
    site(1, u"one", true);
    site(2, u"", true);      // no settings
    site(3, u"ONE", true);   // the comment of site 1
    site(4, u"four", false); // no root
    site(9, u"nine", true);  // past the count of children (5)
    site(5, u"five", true);
    const Object root = GetObject(u"IIS://WEBHOST/W3SVC/5").Call(u"GetObject", {u"IIsWebVirtualDir", u"ROOT"}).AsObject();
    root.Put(u"Path", u"D:\\web\\nowhere");
    root.Call(u"SetInfo");

    const Report report = Check(CheckSites, true);
    EXPECT_EQ(Summary(report), (std::vector<std::string>{
                                   "web.site-settings:IIS://WEBHOST/W3SVC/2",
                                   "web.root-missing:IIS://WEBHOST/W3SVC/4",
                                   "web.unreachable-site:IIS://WEBHOST/W3SVC/9",
                                   "web.root-folder-missing:IIS://WEBHOST/W3SVC/5/ROOT",
                                   "web.duplicate-comment:IIS://WEBHOST/W3SVC/3",
                               }));
    EXPECT_EQ(report.ExitCode(), kFindings) << "nothing here has one sound fix";
}

// A membership the store keeps for an account that is gone, as a store of an
// older version or one edited by hand may.
void PlantMembership(const std::filesystem::path& machine, const std::string& group, const std::string& user) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((machine / "accounts.db").c_str(), &db), SQLITE_OK);
    const std::string sql = "INSERT INTO members (group_key, user_key) VALUES ('" + group + "', '" + user + "')";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST_F(DoctorDirectories, AMembershipOfAnAccountThatIsGoneIsRemovedBeforeItPassesToANewOne) {
    GetObject(u"WinNT://WEBHOST").Children();  // the fresh machine's accounts
    PlantMembership(machine_.path(), "ADMINISTRATORS", "WEB_EVIL");
    const Report found = Check(CheckAccounts, false);
    ASSERT_EQ(Summary(found), (std::vector<std::string>{"accounts.dangling-member:WinNT://WEBHOST/Administrators+"}));
    EXPECT_NE(found.findings()[0].message.find(u"WEB_EVIL"), std::u16string::npos);

    EXPECT_EQ(Check(CheckAccounts, true).ExitCode(), kRepaired);
    EXPECT_EQ(Check(CheckAccounts, false).ExitCode(), kSound);
    const Object computer = GetObject(u"WinNT://WEBHOST");
    computer.Call(u"Create", {u"user", u"web_evil"}).AsObject().Call(u"SetInfo");
    EXPECT_FALSE(GetObject(u"WinNT://WEBHOST/Administrators,group")
                     .Call(u"IsMember", {u"WinNT://WEBHOST/web_evil"})
                     .Bool());
}

// ---- The component's own leftovers

class DoctorLeftovers : public testing::Test {
protected:
    Report Check(bool repair) {
        Report report;
        Context context{report, repair};
        CheckLeftovers({{dir_.u16()}, {}, state_.u16()}, context);
        return report;
    }
    test::TempDir dir_;
    test::TempDir state_;
};

TEST_F(DoctorLeftovers, CopiesOfWritersThatAreGoneAndLocksOfFilesThatAreGoneAreDeleted) {
    WriteBytes(dir_ / "list.dat", "new");
    // A process id no process has (above the kernel's limit).
    WriteBytes(dir_ / ".list.dat.tmp99999999-0", "half");
    WriteBytes(dir_ / (".list.dat.tmp" + std::to_string(getpid()) + "-7"), "being written");
    WriteBytes(dir_ / ".list.dat.lock", "");
    WriteBytes(dir_ / ".gone.ini.lock", "");
    const std::string folder = platform::ToUtf8(dir_.u16());
    EXPECT_EQ(Summary(Check(false)),
              (std::vector<std::string>{"leftover.stale-lock:" + folder + "\\.gone.ini.lock+",
                                        "leftover.temporary-file:" + folder + "\\.list.dat.tmp99999999-0+"}));
    EXPECT_EQ(Check(true).ExitCode(), kRepaired);
    EXPECT_FALSE(std::filesystem::exists(dir_ / ".list.dat.tmp99999999-0"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / ".gone.ini.lock"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / (".list.dat.tmp" + std::to_string(getpid()) + "-7")));
    EXPECT_TRUE(std::filesystem::exists(dir_ / ".list.dat.lock"));
    EXPECT_EQ(Check(false).ExitCode(), kSound);
}

std::string g_copy;
void RememberCopy(const std::string& copy) { g_copy = copy; }

TEST_F(DoctorLeftovers, TheNamesAreThoseTheWritersMake) {
    posix::SetBeforeWriteHookForTests(&RememberCopy);
    const bool written = posix::AtomicWrite((dir_ / "file.ini").string(), "x");
    posix::SetBeforeWriteHookForTests(nullptr);
    ASSERT_TRUE(written);
    const auto copy = platform::ReplacementCopyOf(std::filesystem::path(g_copy).filename().string());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->target, "file.ini");
    EXPECT_EQ(copy->process, static_cast<std::uint32_t>(getpid()));
    EXPECT_FALSE(platform::ReplacementCopyOf("file.ini"));

    // The lock a profile write takes.
    ASSERT_TRUE(posix::AtomicWrite((dir_ / "settings.ini").string(), "[a]\r\n"));
    { const platform::FileLock lock(platform::ToAnsi(dir_.u16() + u"\\settings.ini")); }
    bool found = false;
    const auto entries = platform::ListFolder(platform::ToAnsi(dir_.u16()));
    ASSERT_TRUE(entries);
    for (const auto& entry : *entries)
        if (platform::LockFileTarget(entry.name) == std::optional<std::string>("settings.ini")) found = entry.hidden;
    EXPECT_TRUE(found);
}

TEST_F(DoctorLeftovers, ALockFileRemovedWhileHeldIsTakenAgainByItsWaiter) {
    const std::string file = platform::ToAnsi(dir_.u16() + u"\\gone.ini");
    std::atomic<bool> waiter_holds{false}, other_holds{false};
    std::thread waiter;
    {
        const platform::FileLock doctor(file);
        ASSERT_TRUE(doctor.held());
        waiter = std::thread([&] {
            const platform::FileLock lock(file);
            waiter_holds = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            waiter_holds = false;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::filesystem::remove(dir_ / ".gone.ini.lock");
    }
    // The waiter went on to a new lock file: a newcomer waits for it.
    while (!waiter_holds) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::thread other([&] {
        const platform::FileLock lock(file);
        other_holds = true;
        EXPECT_FALSE(waiter_holds) << "two holders of one lock";
    });
    other.join();
    waiter.join();
    EXPECT_TRUE(other_holds);
}

// ---- The host's verb

class DoctorHost : public testing::Test {
protected:
    void SetUp() override {
        WriteBytes(machine_ / "machine.ini", "[Machine]\r\nComputerName=WEBHOST\r\nCodePage=936\r\n");
        const ProcessResult r = Host({"regsvr", QUORVEL_LIBRARY_PATH});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    ProcessResult Host(std::vector<std::string> args, const std::vector<std::string>& environment = {}) {
        args.insert(args.begin(), {QUORVEL_HOST_PATH, "--machine", machine_.path().string()});
        return RunProcess(args, environment);
    }
    std::vector<std::string> HostArgs(std::vector<std::string> args) const {
        args.insert(args.begin(), {QUORVEL_HOST_PATH, "--machine", machine_.path().string()});
        return args;
    }
    std::string Ftp() const { return work_.path().string(); }
    test::TempDir machine_;
    test::TempDir work_;
};

bool ParsesAsJson(const std::string& text) {
    test::TempDir dir;
    WriteBytes(dir / "out.json", text);
    return RunProcess({"/usr/bin/python3", "-c",
                       "import json,sys; d=json.load(open(sys.argv[1])); "
                       "assert set(d) == {'exit','findings','unchecked','checked'}; "
                       "assert all(set(f) == {'kind','object','line','message','repair','repaired'} for f in d['findings'])",
                       (dir / "out.json").string()})
               .exit_code == 0;
}

TEST_F(DoctorHost, AnInterruptedCallIsRepairedByItsMethodThroughTheComponent) {
    // Killed right after its account was made: the record stays.
    Host({"call", "PostNTUser", "ADDUSER", "Li", "web_li", "Secret-1", "Users"}, {"QUORVEL_TEST_CRASH_AFTER_STEP=8"});
    ASSERT_TRUE(std::filesystem::exists(machine_ / "component" / "PostNTUser.intent"));
    ASSERT_EQ(Host({"adsi", "get", "WinNT://WEBHOST/web_li,user", "Name"}).exit_code, 0);

    ProcessResult r = Host({"doctor", "--accounts", "--json"});
    EXPECT_EQ(r.exit_code, kFindings) << r.out << r.err;
    EXPECT_NE(r.out.find("\"kind\":\"leftover.intent\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("PostNTUser call (ADDUSER web_li)"), std::string::npos) << r.out;
    EXPECT_TRUE(ParsesAsJson(r.out)) << r.out;

    r = Host({"doctor", "--accounts", "--repair"});
    EXPECT_EQ(r.exit_code, kRepaired) << r.out << r.err;
    EXPECT_NE(r.out.find("repaired: run PostNTUser's own repair"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(machine_ / "component" / "PostNTUser.intent"));
    EXPECT_NE(Host({"adsi", "get", "WinNT://WEBHOST/web_li,user", "Name"}).exit_code, 0) << "the ADDUSER is undone";
    EXPECT_EQ(Host({"doctor", "--accounts"}).exit_code, kSound);
    EXPECT_EQ(Host({"call", "PostNTUser", "ADDUSER", "Li", "web_li", "Secret-1", "Users"}).out, "0\n");
}

TEST_F(DoctorHost, WithoutFoldersItSearchesTheDrivesAndItsJsonParses) {
    std::filesystem::create_directories(machine_ / "drives" / "D" / "Serv-U");
    std::filesystem::create_directories(machine_ / "drives" / "E" / "Program Files" / "Mail" / "App");
    WriteBytes(machine_ / "drives" / "D" / "Serv-U" / "ServUDaemon.ini",
               "[DOMAINS]\r\nDomain1=0.0.0.0||21|E|1|0\r\n[Domain1]\r\nUser2=a|1|0\r\n[USER=a|1]\r\nPassword=x\r\n");
    WriteBytes(machine_ / "drives" / "E" / "Program Files" / "Mail" / "App" / "USERLIST.DAT", "short\r\n");
    WriteBytes(machine_ / "drives" / "E" / "Program Files" / "Mail" / "App" / "Domains.dat", "");
    const ProcessResult r = Host({"doctor", "--json"});
    EXPECT_EQ(r.exit_code, kFindings) << r.out << r.err;
    EXPECT_TRUE(ParsesAsJson(r.out)) << r.out;
    for (const char* expected : {"D:\\\\Serv-U\\\\ServUDaemon.ini\",\"line\":4", "ftp.list-gap",
                                 "E:\\\\Program Files\\\\Mail\\\\App\\\\USERLIST.DAT\",\"line\":1", "IIS://WEBHOST/W3SVC",
                                 "WinNT://WEBHOST"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    EXPECT_EQ(Host({"doctor", "--bogus"}).exit_code, kUsage);
}

TEST_F(DoctorHost, TheTrailBesideTheLogsIsTheOneTheFilesAreHeldTo) {
    test::TempDir logs;
    const std::string ini = work_.path().string() + "\\ServUDaemon.ini";
    WriteBytes(logs / "DllAudit.log", "2026/12/7\t5:04:09\tPostFtpSit\tADD\ta\t0\t1\troot\t" + ini +
                                          "\t[Domain1]User1\t-\ta|1|0\r\n");
    WriteBytes(work_ / "ServUDaemon.ini",
               "[DOMAINS]\r\nDomain1=0.0.0.0||21|E|1|0\r\n[Domain1]\r\nUser1=b|1|0\r\n[USER=b|1]\r\nPassword=x\r\n");
    const ProcessResult r = Host({"doctor", "--ftp", Ftp()}, {"QUORVEL_LOG_FOLDER=" + logs.path().string()});
    EXPECT_EQ(r.exit_code, kFindings) << r.out << r.err;
    EXPECT_NE(r.out.find(":4: audit.outside-edit: [Domain1]User1 is \"b|1|0\""), std::string::npos) << r.out;
    EXPECT_EQ(Host({"doctor", "--ftp", Ftp()}).exit_code, kSound) << "without a trail nothing is held to one";
}

TEST_F(DoctorHost, ARepairRacingTheMethodsLosesNothing) {
    std::string ini = "[GLOBAL]\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|E|1|0\r\n[Domain1]\r\n";
    for (int i = 1; i <= 40; ++i) ini += "User" + std::to_string(i + (i > 10)) + "=u" + std::to_string(i) + "|1|0\r\n";
    for (int i = 1; i <= 40; ++i) ini += "[USER=u" + std::to_string(i) + "|1]\r\nPassword=x\r\n";
    for (int i = 1; i <= 20; ++i) ini += "[USER=old" + std::to_string(i) + "|1]\r\nPassword=x\r\n";
    WriteBytes(work_ / "ServUDaemon.ini", ini);

    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                const std::u16string name = u"t" + platform::FromUtf8(std::to_string(t * 100 + i));
                if (ftp::PostFtpSit(u"ADD", name, work_.u16(), u"pw", u"D:\\f", u"D:\\f|RL", 1, 1, 1, 0, 0) != 0) ++failures;
            }
        });
    }
    for (int i = 0; i < 4; ++i) {
        const ProcessResult r = Host({"doctor", "--ftp", Ftp(), "--repair"});
        EXPECT_TRUE(r.exit_code == kSound || r.exit_code == kRepaired) << r.out << r.err;
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(failures, 0);
    Host({"doctor", "--ftp", Ftp(), "--repair"});
    EXPECT_EQ(Host({"doctor", "--ftp", Ftp()}).exit_code, kSound);
    for (int i = 1; i <= 40; ++i)
        EXPECT_EQ(ftp::PostFtpSit(u"ISUSER", u"u" + platform::FromUtf8(std::to_string(i)), work_.u16(), u"", u"", u"",
                                  0, 0, 0, 0, 0), 0) << i;
    for (int t = 0; t < 3; ++t)
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(ftp::PostFtpSit(u"ISUSER", u"t" + platform::FromUtf8(std::to_string(t * 100 + i)), work_.u16(),
                                      u"", u"", u"", 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(ReadBytes(work_ / "ServUDaemon.ini").find("[USER=old"), std::string::npos);
}

TEST_F(DoctorHost, ARepairRacingMailboxCallsLosesNoMailbox) {
    std::filesystem::create_directories(work_ / "App");
    const auto record = [](const std::u16string& box) {
        return platform::ToAnsi(*mail::BuildRecord({u"example.com", box, u"N", u"D:\\M\\" + box, u"P", 1, 1})) + "\r\n";
    };
    std::string list;
    for (int i = 0; i < 50; ++i) list += record(u"m" + platform::FromUtf8(std::to_string(i))) + (i % 5 == 0 ? "\r\n" : "");
    WriteBytes(work_ / "App" / "USERLIST.DAT", list);
    std::atomic<int> failures{0};
    std::thread writer([&] {
        for (int i = 0; i < 40; ++i)
            if (mail::PostEmail(u"ADD", work_.u16(), u"example.com", u"n" + platform::FromUtf8(std::to_string(i)),
                                u"127.0.0.1", u"N", u"pw", 1, 1,
                                [](const std::u16string&, const std::u16string&, const std::u16string&) {
                                    return std::u16string(u"P");
                                }) != 0)
                ++failures;
    });
    for (int i = 0; i < 4; ++i) Host({"doctor", "--mail", Ftp(), "--repair"});
    writer.join();
    EXPECT_EQ(failures, 0);
    Host({"doctor", "--mail", Ftp(), "--repair"});
    const mail::UserList after(ReadBytes(work_ / "App" / "USERLIST.DAT"));
    EXPECT_EQ(after.size(), 90u);
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(after.FindLast(mail::LookupKey(u"example.com", u"n" + platform::FromUtf8(std::to_string(i))))) << i;
}

// Starts the host, kills it after `delay`, and waits for it.
void KillAfter(const std::vector<std::string>& args, std::chrono::microseconds delay) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

TEST_F(DoctorHost, AKilledRepairLeavesTheOldListOrTheNewAndItsCopyIsFoundAfterwards) {
    std::filesystem::create_directories(work_ / "App");
    WriteBytes(work_ / "App" / "Domains.dat", "");
    std::string list;
    for (int i = 0; i < 20000; ++i)
        list += platform::ToAnsi(*mail::BuildRecord({u"example.com", u"m" + platform::FromUtf8(std::to_string(i)), u"N",
                                                    u"D:\\M", u"P", 1, 1})) + "\r\n";
    const std::string old_list = list.substr(0, 237) + list;  // the first record twice
    // How long a whole repair takes: the kills fall anywhere in it, or after it.
    WriteBytes(work_ / "App" / "USERLIST.DAT", old_list);
    const auto start = std::chrono::steady_clock::now();
    Host({"doctor", "--mail", Ftp(), "--repair"});
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::mt19937 random(7);
    int old_seen = 0, new_seen = 0;
    for (int round = 0; round < 10; ++round) {
        WriteBytes(work_ / "App" / "USERLIST.DAT", old_list);
        KillAfter(HostArgs({"doctor", "--mail", Ftp(), "--repair"}),
                  std::chrono::microseconds(random() % (whole.count() * 5 / 4 + 1)));
        const std::string now = ReadBytes(work_ / "App" / "USERLIST.DAT");
        ASSERT_TRUE(now == old_list || now == list) << "round " << round << ": " << now.size() << " bytes";
        (now == old_list ? old_seen : new_seen)++;
        // What the killed repair left beside the list is a leftover the doctor finds and deletes.
        bool copy_left = false;
        for (const auto& entry : std::filesystem::directory_iterator(work_ / "App"))
            copy_left = copy_left || platform::ReplacementCopyOf(entry.path().filename().string()).has_value();
        const ProcessResult r = Host({"doctor", "--mail", Ftp()});
        EXPECT_EQ(r.out.find("leftover.temporary-file") != std::string::npos, copy_left) << r.out;
        Host({"doctor", "--mail", Ftp(), "--repair"});
        EXPECT_EQ(ReadBytes(work_ / "App" / "USERLIST.DAT"), list);
        EXPECT_EQ(Host({"doctor", "--mail", Ftp()}).exit_code, kSound);
    }
    std::cout << "killed repairs: " << old_seen << " left the old list, " << new_seen << " the new\n";
}

}  // namespace
}  // namespace quorvel::doctor
