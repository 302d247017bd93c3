// quorvel doctor on the servers' files, in both builds: each fault planted
// in a fixture is found on its line; --repair leaves a file that the
// methods and the doctor both accept, and touches nothing that has no
// single sound fix.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "doctor/checks.h"
#include "doctor/doctor.h"
#include "doctor/report.h"
#include "ftp/post_ftp_sit.h"
#include "mail/files/user_list.h"
#include "mail/post_email.h"
#include "platform/text.h"
#include "support/md5.h"
#include "audit_watch.h"
#include "test_support.h"

namespace quorvel::doctor {
namespace {

using test::ReadBytes;
using test::WriteBytes;

Outcome Doctor(const std::vector<std::string>& args, std::string_view command) { return Run(args, command); }

// Each finding as "kind:line", "+" after it when it has a repair, "*" when repaired.
std::vector<std::string> Summary(const Report& report) {
    std::vector<std::string> out;
    for (const Finding& f : report.findings())
        out.push_back(f.kind + ":" + std::to_string(f.line) + (f.repaired ? "*" : f.repair.empty() ? "" : "+"));
    return out;
}

std::string Section(const std::string& name, const std::string& home) {
    return "[USER=" + name + "|1]\r\nPassword=vk5D44A032652974C3E53644945A95B126\r\nHomeDir=" + home +
           "\r\nRelPaths=1\r\nAccess1=" + home + "|RWAMLCDP\r\n";
}

constexpr char kFtpHead[] = "[GLOBAL]\r\nVersion=6.4.0.6\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\n";

class DoctorFtpTest : public testing::Test {
protected:
    std::filesystem::path ini() const { return dir_ / "ServUDaemon.ini"; }
    Report Check(bool repair) const {
        Report report;
        Context context{report, repair};
        CheckFtp(dir_.u16(), context);
        return report;
    }
    std::int32_t Ftp(const std::u16string& action, const std::u16string& user) const {
        return ftp::PostFtpSit(action, user, dir_.u16(), u"pw", u"D:\\ftp\\" + user, u"D:\\ftp\\" + user + u"|RL", 1,
                               10, 10, 0, 0);
    }
    test::TempDir dir_;
};

TEST_F(DoctorFtpTest, FindsEachRepairableFaultAndTheRepairLeavesAListTheMethodsUse) {
    WriteBytes(ini(), std::string(kFtpHead) +
                          "[Domain1]\r\n"
                          "User1=alice|1|0\r\n"   // line 6
                          "User3=bob|1|0\r\n"     // 7: User2 is missing
                          "User4=ghost|1|0\r\n"   // 8: no section
                          "User5=alice|1|0\r\n"   // 9: alice again, the same entry
                          "User6=carol|0|0\r\n" +  // 10
                          Section("alice", "D:\\ftp\\alice") + Section("bob", "D:\\ftp\\bob") +
                          Section("carol", "D:\\ftp\\carol") +
                          "[USER=old|1]\r\nPassword=x\r\nAccess1=D:\\ftp\\old|RL\r\nAccess2=D:\\|RWAMLCDP\r\n");
    EXPECT_EQ(Ftp(u"ISUSER", u"carol"), 3) << "the gap hides the accounts after it";
    EXPECT_EQ(Summary(Check(false)), (std::vector<std::string>{"ftp.list-gap:7+", "ftp.missing-section:8+",
                                                               "ftp.duplicate-name:9+", "ftp.orphan-section:26+"}));

    const Report repaired = Check(true);
    EXPECT_EQ(Summary(repaired), (std::vector<std::string>{"ftp.list-gap:7*", "ftp.missing-section:8*",
                                                           "ftp.duplicate-name:9*", "ftp.orphan-section:26*"}));
    EXPECT_EQ(repaired.ExitCode(), kRepaired);
    const std::string file = ReadBytes(ini());
    EXPECT_NE(file.find("[Domain1]\r\nUser1=alice|1|0\r\nUser2=bob|1|0\r\nUser3=carol|0|0\r\n[USER=alice|1]"),
              std::string::npos)
        << file;
    EXPECT_EQ(file.find("ghost"), std::string::npos);
    EXPECT_NE(file.find("ReloadSettings=True"), std::string::npos) << "the server is told to read it again";

    EXPECT_EQ(Check(false).ExitCode(), kSound);
    EXPECT_EQ(Ftp(u"ISUSER", u"carol"), 0);
    EXPECT_EQ(Ftp(u"ADD", u"old"), 0);
    EXPECT_EQ(ReadBytes(ini()).find("Access2=D:\\|RWAMLCDP"), std::string::npos)
        << "the new account took over the old section's rights";
    EXPECT_EQ(Ftp(u"DEL", u"alice"), 0);
    EXPECT_EQ(Check(false).ExitCode(), kSound);
}

TEST_F(DoctorFtpTest, ReportsWhatHasNoSingleFixAndLeavesTheFileAsItWas) {
    const std::string long_name(145, 'n');
    const std::string original =
        "[GLOBAL]\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\nDomain2=0.0.0.0||21|Other|x|0\r\n"
        "[Domain1]\r\n"
        "User1=alice|1|0\r\n"               // line 6
        "User2=Alice|0|0\r\n"               // 7: the same account, another entry
        "User3=" + long_name + "|1|0\r\n"   // 8: past the 143 bytes a read takes
        "User4=x\r\n" +                     // 9: names no account
        Section("alice", "D:\\ftp\\a") + Section(long_name, "D:\\ftp\\n");
    WriteBytes(ini(), original);
    const Report report = Check(true);
    EXPECT_EQ(Summary(report), (std::vector<std::string>{"ftp.unparsable-entry:4", "ftp.duplicate-name:7",
                                                         "ftp.entry-too-long:8", "ftp.unparsable-entry:9"}));
    EXPECT_EQ(report.ExitCode(), kFindings);
    EXPECT_EQ(ReadBytes(ini()), original);
}

TEST_F(DoctorFtpTest, AListWithoutEntriesKeepsItsSections) {
    // The list may be what was lost: its sections are all that is left.
    WriteBytes(ini(), std::string(kFtpHead) + "[Domain1]\r\n" + Section("alice", "D:\\a"));
    const Report report = Check(true);
    ASSERT_EQ(Summary(report), (std::vector<std::string>{"ftp.orphan-section:6"}));
    EXPECT_NE(ReadBytes(ini()).find("[USER=alice|1]"), std::string::npos);
}

TEST_F(DoctorFtpTest, ExitStatusesAndUsage) {
    const std::string folder = platform::ToUtf8(dir_.u16());
    WriteBytes(ini(), std::string(kFtpHead) + "[Domain1]\r\nUser1=a|1|0\r\n" + Section("a", "D:\\a"));
    EXPECT_EQ(Doctor({"--ftp", folder}, "doctor").exit, kSound);
    WriteBytes(ini(), std::string(kFtpHead) + "[Domain1]\r\nUser2=a|1|0\r\n" + Section("a", "D:\\a"));
    const Outcome found = Doctor({"--json", "--ftp=" + folder}, "doctor");
    EXPECT_EQ(found.exit, kFindings);
    EXPECT_TRUE(found.out.starts_with("{\"exit\":1,\"findings\":[{\"kind\":\"ftp.list-gap\",")) << found.out;
    EXPECT_NE(found.out.find("\"repaired\":false"), std::string::npos);
    EXPECT_EQ(Doctor({"--repair", "--ftp", folder}, "doctor").exit, kRepaired);
    EXPECT_EQ(Doctor({"--ftp", folder}, "doctor").exit, kSound);

    EXPECT_EQ(Doctor({"--ftp", folder + "/missing"}, "doctor").exit, kAccess);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--ftp"}, {"--ftp="}, {"--bogus"}, {"sites"}, {"--mail"}}) {
        const Outcome usage = Doctor(bad, "doctor");
        EXPECT_EQ(usage.exit, kUsage) << bad[0];
        EXPECT_TRUE(usage.err.find("usage: doctor") != std::string::npos) << usage.err;
    }
    EXPECT_EQ(Doctor({"--help"}, "doctor").exit, 0);
}

// ---- The mail server's files

constexpr char16_t kStored[] = u"7F3A09C1D2B4E5F60718";

class DoctorMailTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "App");
        std::filesystem::create_directories(dir_ / "WorldClient");
        WriteBytes(settings(), "[Default:Settings]\r\nNewAccountCreation=No\r\nPort=3000\r\n");
        WriteBytes(dir_ / "App" / "Domains.dat",
                   "[example.com]\r\nIP=1.2.3.4\r\nBind=No\r\nMaxInactive=0\r\nMaxMessageAge=0\r\n"
                   "MaxDeletedIMAPMessageAge=0\r\nRecurseIMAP=No\r\n");
    }
    std::filesystem::path list() const { return dir_ / "App" / "USERLIST.DAT"; }
    std::filesystem::path settings() const { return dir_ / "WorldClient" / "Domains.ini"; }
    std::string Record(const std::u16string& box, const std::u16string& name = u"") const {
        return platform::ToAnsi(*mail::BuildRecord({u"example.com", box, name, u"D:\\MDaemon\\Users\\example.com\\" + box,
                                                    kStored, 10, 100}));
    }
    Report Check(bool repair) const {
        Report report;
        Context context{report, repair};
        CheckMail(dir_.u16(), context);
        return report;
    }
    std::int32_t Mail(const std::u16string& action, const std::u16string& box) const {
        return mail::PostEmail(action, dir_.u16(), u"example.com", box, u"127.0.0.1", u"Name", u"pw", 1, 1,
                               [](const std::u16string&, const std::u16string&, const std::u16string&) {
                                   return std::u16string(kStored);
                               });
    }
    test::TempDir dir_;
};

TEST_F(DoctorMailTest, FindsEachRepairableFaultAndTheRepairLeavesAListTheMethodsUse) {
    const std::string a = Record(u"a"), b = Record(u"b"), c = Record(u"c");
    WriteBytes(list(), a + "\r\n" +                          // 1
                           "\r\n" +                          // 2: empty
                           a + "\r\n" +                      // 3: a again, the same record
                           Record(u"Quorvel", u"Quorvel") + "\r\n" +  // 4: the lookup's account
                           b + "\r\n" +                      // 5
                           c.substr(0, 100));                // 6: cut off
    WriteBytes(settings(), "[Default:Settings]\r\nNewAccountCreation=Yes\r\nPort=3000\r\n");
    EXPECT_EQ(Summary(Check(false)),
              (std::vector<std::string>{"mail.record-width:2+", "mail.duplicate-key:3+", "mail.temporary-record:4+",
                                        "mail.partial-record:6+", "mail.creation-left-on:2+"}));
    EXPECT_EQ(Check(true).ExitCode(), kRepaired);
    EXPECT_EQ(ReadBytes(list()), a + "\r\n" + b + "\r\n");
    EXPECT_NE(ReadBytes(settings()).find("NewAccountCreation=No"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "App" / "UserList.sem")) << "the server is told to read it again";

    EXPECT_EQ(Check(false).ExitCode(), kSound);
    EXPECT_EQ(Mail(u"EDIT", u"b"), 0);
    EXPECT_EQ(Mail(u"ADD", u"c"), 0);
    EXPECT_EQ(Check(false).ExitCode(), kSound);
}

TEST_F(DoctorMailTest, AWholeLastRecordWithoutItsLineEndIsEnded) {
    const std::string a = Record(u"a"), b = Record(u"b");
    WriteBytes(list(), a + "\r\n" + b);
    EXPECT_EQ(Summary(Check(true)), (std::vector<std::string>{"mail.partial-record:2*"}));
    EXPECT_EQ(ReadBytes(list()), a + "\r\n" + b + "\r\n");
}

TEST_F(DoctorMailTest, ReportsWhatHasNoSingleFixAndLeavesTheFilesAsTheyWere) {
    const std::string a = Record(u"a");
    const std::string original = a + "\r\n" + Record(u"z").substr(0, 200) + "\r\n" + Record(u"a", u"Other") + "\r\n";
    WriteBytes(list(), original);
    const std::string domains = "[example.com]\r\nIP=1.2.3.4\r\nBind=No\r\n[other.com]\r\nIP=\r\n";
    WriteBytes(dir_ / "App" / "Domains.dat", domains);
    const Report report = Check(true);
    EXPECT_EQ(Summary(report), (std::vector<std::string>{"mail.record-width:2", "mail.duplicate-key:3",
                                                         "mail.domain-keys:1", "mail.domain-keys:4"}));
    EXPECT_EQ(report.ExitCode(), kFindings);
    EXPECT_EQ(ReadBytes(list()), original);
    EXPECT_EQ(ReadBytes(dir_ / "App" / "Domains.dat"), domains);
}

TEST_F(DoctorMailTest, TheJsonDocumentEscapesWhatItQuotes) {
    WriteBytes(list(), Record(u"a") + "\r\n\r\n");
    const Outcome outcome = Doctor({"--json", "--mail", platform::ToUtf8(dir_.u16())}, "doctor");
    EXPECT_EQ(outcome.exit, kFindings);
    // The object is a Windows path: its backslashes are escaped.
    EXPECT_NE(outcome.out.find("\\\\App\\\\USERLIST.DAT\",\"line\":2,"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("\"repair\":\"remove the empty line\",\"repaired\":false}"), std::string::npos);
}

}  // namespace
}  // namespace quorvel::doctor

// ---- The files held to the audit trail

namespace quorvel::doctor {
namespace {

class DoctorTrailTest : public testing::Test {
protected:
    std::string Path(const std::string& name) const { return platform::ToUtf8(dir_.u16()) + "\\" + name; }
    // A line as the component writes it: the fixed fields, then OBJECT ITEM OLD NEW for each change.
    static std::string Line(const std::string& call, const std::vector<std::string>& changes) {
        std::string line = "2026/12/7\t5:04:09\t" + call + "\t0\t4711\twww-data";
        for (const std::string& field : changes) line += "\t" + field;
        return line + "\r\n";
    }
    void Trail(const std::string& lines) { WriteBytes(dir_ / "DllAudit.log", lines); }
    Report Check(void (*check)(const std::u16string&, Context&), const std::u16string& folder, bool repair) const {
        const doctor::Trail trail = Trail::Load(dir_.u16() + u"\\DllAudit.log");
        Report report;
        Context context{report, repair, &trail};
        check(folder, context);
        return report;
    }
    test::TempDir dir_;
};

TEST_F(DoctorTrailTest, AKeyThatIsNotWhatTheLastRecordedChangeMadeItIsAnOutsideEdit) {
    const std::string ini = Path("ServUDaemon.ini");
    Trail(Line("PostFtpSit\tADD\talice", {ini, "[Domain1]User1", "-", "alice|1|0", ini, "[USER=alice|1]Password", "-",
                                          "***", ini, "[USER=alice|1]HomeDir", "-", "D:\\ftp\\alice", ini,
                                          "[GLOBAL]ReloadSettings", "-", "True"}) +
          Line("PostFtpSit\tEDIT\talice", {ini, "[USER=alice|1]HomeDir", "D:\\ftp\\alice", "D:\\ftp\\alice2"}) +
          Line("PostFtpSit\tADD\tbob", {ini, "[Domain1]User2", "-", "bob|1|0"}) +
          Line("PostFtpSit\tDEL\tbob", {ini, "[Domain1]User2", "bob|1|0", "-"}));
    WriteBytes(dir_ / "ServUDaemon.ini", std::string(kFtpHead) +
                                             "[Domain1]\r\nUser1=alice|1|0\r\nUser2=carol|1|0\r\n"  // 6, 7
                                             "[USER=alice|1]\r\nPassword=changed\r\nHomeDir=D:\\elsewhere\r\n" +  // 10
                                             Section("carol", "D:\\c"));
    const Report report = Check(CheckFtp, dir_.u16(), false);
    ASSERT_EQ(Summary(report), (std::vector<std::string>{"audit.outside-edit:7", "audit.outside-edit:10"}));
    EXPECT_NE(report.findings()[1].message.find(u"[USER=alice|1]HomeDir is \"D:\\elsewhere\", but the last change "
                                                u"DllAudit.log records for it (line 2: 2026/12/7 5:04:09 PostFtpSit "
                                                u"EDIT alice) made it \"D:\\ftp\\alice2\""),
              std::u16string::npos)
        << platform::ToUtf8(report.findings()[1].message);
    EXPECT_NE(report.findings()[0].message.find(u"removed it"), std::u16string::npos) << "the password is never compared";
}

TEST_F(DoctorTrailTest, AListClosedUpByADeleteIsHeldToTheValuesItsKeysMovedWith) {
    std::string body = std::string(kFtpHead) + "[Domain1]\r\n";
    for (int k = 1; k <= 400; ++k) body += "User" + std::to_string(k) + "=u" + std::to_string(k) + "|1|0\r\n";
    for (int k = 1; k <= 400; ++k) {
        const std::string n = std::to_string(k);
        body += Section(std::string("u").append(n), std::string("D:\\u").append(n));
    }
    WriteBytes(dir_ / "ServUDaemon.ini", body);
    const auto ftp = [&](const std::u16string& action, const std::u16string& user) {
        return ftp::PostFtpSit(action, user, dir_.u16(), u"pw", u"D:\\" + user, u"D:\\" + user + u"|RL", 1, 10, 10, 0, 0);
    };
    test::AuditWatch watch;
    ASSERT_EQ(ftp(u"ADD", u"late"), 0);     // User401, named by the trail
    ASSERT_EQ(ftp(u"EDIT", u"u300"), 0);    // [USER=u300|1] keys, not the list's
    ASSERT_EQ(ftp(u"DEL", u"u200"), 0);
    const std::vector<std::string> lines = watch.Lines();
    ASSERT_EQ(lines.size(), 3u);
    const std::string ini = Path("ServUDaemon.ini");
    EXPECT_NE(lines[2].find(ini + "\t[Domain1]User200\tu200|1|0\t-\t" + ini + "\tRenumber()\t-\tDomain1|User|201|401"),
              std::string::npos)
        << lines[2];
    EXPECT_EQ(lines[2].find("[Domain1]User300"), std::string::npos) << "one item for the whole renumbering";
    const auto check = [&] {
        WriteBytes(dir_ / "DllAudit.log", test::AuditBytes());
        std::vector<std::string> edits;
        for (const std::string& found : Summary(Check(CheckFtp, dir_.u16(), false)))
            if (found.rfind("audit.", 0) == 0) edits.push_back(found);
        return edits;
    };
    EXPECT_EQ(check(), std::vector<std::string>{});

    // User400 is held to what ADD wrote as User401; User250 to nothing (the
    // trail never named User251); User401 is held to be gone.
    std::string edited = ReadBytes(dir_ / "ServUDaemon.ini");
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"User400=late|1|0", "User400=mallory|1|0"},
                                   {"User250=u251|1|0", "User250=other|1|0"},
                                   {"User399=u400|1|0\r\n", "User399=u400|1|0\r\nUser401=ghost|1|0\r\n"}}) {
        const size_t at = edited.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        edited.replace(at, from.size(), to);
    }
    WriteBytes(dir_ / "ServUDaemon.ini", edited);
    EXPECT_EQ(check(), (std::vector<std::string>{"audit.outside-edit:406", "audit.outside-edit:407"}));
}

TEST_F(DoctorTrailTest, TheDoctorsOwnRepairIsRecordedSoThatItIsNoOutsideEdit) {
    const std::string ini = Path("ServUDaemon.ini");
    Trail(Line("PostFtpSit\tADD\tbob", {ini, "[Domain1]User2", "-", "bob|1|0"}) +
          Line("PostFtpSit\tADD\tcarol", {ini, "[Domain1]User3", "-", "carol|1|0"}));
    WriteBytes(dir_ / "ServUDaemon.ini", std::string(kFtpHead) + "[Domain1]\r\nUser2=bob|1|0\r\nUser3=carol|1|0\r\n" +
                                             Section("bob", "D:\\b") + Section("carol", "D:\\c"));
    EXPECT_EQ(Summary(Check(CheckFtp, dir_.u16(), true)), (std::vector<std::string>{"ftp.list-gap:6*"}));
    const std::string trail = ReadBytes(dir_ / "DllAudit.log");
    EXPECT_NE(trail.find("\tDoctor\tREPAIR\t" + ini + "\t0\t"), std::string::npos) << trail;
    EXPECT_NE(trail.find(ini + "\t[Domain1]User1\t-\tbob|1|0"), std::string::npos) << trail;
    EXPECT_NE(trail.find(ini + "\t[Domain1]User3\tcarol|1|0\t-"), std::string::npos) << trail;
    EXPECT_EQ(Check(CheckFtp, dir_.u16(), false).ExitCode(), kSound);
}

TEST_F(DoctorTrailTest, EscapedValuesReadBackExactlyAndARestoredFileIsHeldToItsDigest) {
    const std::string ini = Path("ServUDaemon.ini");
    const std::string body = std::string(kFtpHead) + "[Domain1]\r\nUser1=alice|1|0\r\n" + Section("alice", "D:\\a") +
                             "Note=100%\r\nDash=-\r\n";
    // "%25" and "%2D" are the text "100%" and "-", not escapes left as they are or the word for absent.
    const std::string keys = Line("PostFtpSit\tEDIT\talice", {ini, "[USER=alice|1]Note", "-", "100%25", ini,
                                                              "[USER=alice|1]Dash", "-", "%2D"});
    Trail(keys);
    WriteBytes(dir_ / "ServUDaemon.ini", body);
    EXPECT_EQ(Summary(Check(CheckFtp, dir_.u16(), false)), std::vector<std::string>{});

    // A restore replaced the file after those changes: its size and digest
    // are what the file is held to, and the keys recorded before no longer.
    const std::string restored = body + "Extra=1\r\n";
    const std::string whole = std::to_string(restored.size()) + " bytes MD5 " + Md5HexOfBytes(restored);
    Trail(keys + Line("BackupSit\tRESTORE\tnightly", {ini, "", "1 bytes MD5 0cc175b9c0f1b6a831c399e269772661", whole}));
    WriteBytes(dir_ / "ServUDaemon.ini", restored);
    EXPECT_EQ(Summary(Check(CheckFtp, dir_.u16(), false)), std::vector<std::string>{});
    WriteBytes(dir_ / "ServUDaemon.ini", body);
    const Report edited = Check(CheckFtp, dir_.u16(), false);
    ASSERT_EQ(Summary(edited), std::vector<std::string>{"audit.outside-edit:0"});
    EXPECT_NE(edited.findings()[0].message.find(u"BackupSit RESTORE nightly"), std::u16string::npos);
}

TEST_F(DoctorTrailTest, ARepairLineHidesPasswordsAndNothingElse) {
    const std::string ini = Path("ServUDaemon.ini");
    Trail(Line("PostFtpSit\tADD\talice", {ini, "[Domain1]User1", "-", "alice|1|0"}));
    WriteBytes(dir_ / "ServUDaemon.ini", std::string(kFtpHead) + "[Domain1]\r\nUser1=alice|1|0\r\n" +
                                             Section("alice", "D:\\a") + Section("passer", "D:\\p"));
    EXPECT_EQ(Summary(Check(CheckFtp, dir_.u16(), true)), std::vector<std::string>{"ftp.orphan-section:12*"});
    const std::string trail = ReadBytes(dir_ / "DllAudit.log");
    EXPECT_NE(trail.find(ini + "\t[USER=passer|1]Password\t***\t-\t"), std::string::npos) << trail;
    EXPECT_NE(trail.find(ini + "\t[USER=passer|1]HomeDir\tD:\\p\t-\t"), std::string::npos) << trail;
    EXPECT_EQ(trail.find("vk5D44A0"), std::string::npos) << trail;
    EXPECT_EQ(trail.substr(trail.size() - 2), "\r\n");
    EXPECT_EQ(Check(CheckFtp, dir_.u16(), false).ExitCode(), kSound) << "the repair is explained by its own line";
}

TEST_F(DoctorTrailTest, ARecordThatIsNotWhatTheLastRecordedChangeMadeItIsAnOutsideEdit) {
    std::filesystem::create_directories(dir_ / "App");
    WriteBytes(dir_ / "App" / "Domains.dat", "");
    const auto record = [](const std::u16string& box, const std::u16string& name, const std::u16string& pass) {
        return platform::ToUtf8(*mail::BuildRecord({u"example.com", box, name, u"D:\\M", pass, 1, 1}));
    };
    const std::string list = Path("App\\USERLIST.DAT");
    const std::string masked = platform::ToUtf8(mail::HidePassword(platform::FromUtf8(record(u"a", u"Name", u"PW"))));
    Trail(Line("PostEmail\tADD\ta@example.com", {list, "record", "-", masked}) +
          Line("PostEmail\tADD\tb@example.com", {list, "record", "-", record(u"b", u"B", u"***")}) +
          Line("PostEmail\tDEL\tb@example.com", {list, "record", record(u"b", u"B", u"***"), "-"}) +
          Line("PostEmail\tADD\tc@example.com", {list, "record", "-", record(u"c", u"C", u"***")}));
    // a as recorded (its password is its own), b back again, c renamed by hand.
    WriteBytes(dir_ / "App" / "USERLIST.DAT", record(u"a", u"Name", u"SECRET") + "\r\n" +
                                                  record(u"b", u"B", u"X") + "\r\n" + record(u"c", u"Hand", u"Y") + "\r\n");
    EXPECT_EQ(Summary(Check(CheckMail, dir_.u16(), false)),
              (std::vector<std::string>{"audit.outside-edit:2", "audit.outside-edit:3"}));
}

}  // namespace
}  // namespace quorvel::doctor
