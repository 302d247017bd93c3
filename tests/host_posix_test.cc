// The quorvel host as users run it: a subprocess on a machine folder of its own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "quorvel_interface.h"
#include "run_process.h"
#include "test_support.h"

namespace {

using quorvel::test::ProcessResult;
using quorvel::test::RunProcess;

class Host : public testing::Test {
protected:
    ProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {QUORVEL_HOST_PATH, "--machine", machine_.path().string()});
        return RunProcess(args);
    }
    void Register() {
        const ProcessResult r = Run({"regsvr", QUORVEL_LIBRARY_PATH});
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }

    quorvel::test::TempDir machine_;
    quorvel::test::TempDir work_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(Host, MethodsListsTheInterface) {
    const ProcessResult r = RunProcess({QUORVEL_HOST_PATH, "methods"});
    ASSERT_EQ(r.exit_code, 0);
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 11u);
    const char* names[] = {"PostWebSit", "PostFtpSit", "PostEmailDomain", "PostEmail", "GetMailPass", "PostNTUser",
                           "PostCACLS", "BackupSit", "ExitWindows", "Supervise", "SendMail"};
    for (int i = 0; i < 11; ++i) {
        char dispid[16];
        std::snprintf(dispid, sizeof dispid, "0x600300%02X", i);
        EXPECT_EQ(lines[i].rfind(std::string(names[i]) + "\t" + dispid + "\t", 0), 0u) << lines[i];
    }
    EXPECT_NE(lines[1].find("Optional FtpPass As String"), std::string::npos);
    EXPECT_NE(lines[4].find("-> String"), std::string::npos);
}

TEST_F(Host, NotRegisteredIsUnavailable) {
    const ProcessResult r = Run({"call", "PostFtpSit", "ADD", "bob", "/x"});
    EXPECT_EQ(r.exit_code, 69);
    EXPECT_NE(r.err.find("regsvr"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST_F(Host, CallsThroughTheRegistry) {
    Register();
    const std::string missing = (work_.path() / "no-such-servu").string();
    ProcessResult r = Run({"call", "postftpsit", "ADD", "bob", missing});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");  // no configuration file there

    r = Run({"call", "PostFtpSit", "ADD", "--CFile=" + missing, "--FtpUser=bob", "--MaxNrUsers= 3 "});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");

    r = Run({"call", "BackupSit", "BACKUP", "7", "a", "b", "c"});  // no such edition: nothing done
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");
}

// A call whose class is registered finds it in the registry's snapshot and
// loads neither SQLite nor libcurl; a change of the registry made by other
// means, or a snapshot that does not read whole, is never trusted.
TEST_F(Host, WarmCallsLoadOnlyWhatTheyNeedAndFollowTheRegistry) {
    Register();
    const std::string missing = (work_.path() / "no-such-servu").string();
    const std::vector<std::string> call{"call", "PostFtpSit", "ISUSER", "bob", missing};
    ProcessResult r = Run(call);
    ASSERT_EQ(r.out, "1\n") << r.err;
    const std::filesystem::path snapshot = machine_.path() / "registry.db-snapshot";
    ASSERT_TRUE(std::filesystem::exists(snapshot));

    std::vector<std::string> traced{QUORVEL_HOST_PATH, "--machine", machine_.path().string()};
    traced.insert(traced.end(), call.begin(), call.end());
    r = RunProcess(traced, {"LD_DEBUG=files"});
    EXPECT_EQ(r.out, "1\n");
    EXPECT_NE(r.err.find("libquorvel"), std::string::npos) << "the trace shows no loading at all";
    EXPECT_EQ(r.err.find("libsqlite3"), std::string::npos);
    EXPECT_EQ(r.err.find("libcurl"), std::string::npos);

    auto set_class = [&](const char* clsid) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((machine_.path() / "registry.db").c_str(), &db), SQLITE_OK);
        const std::string sql = std::string("UPDATE vals SET value = '") + clsid +
                                "' WHERE key = 'Quorvel.SiteManage\\CLSID' AND name = ''";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_changes(db), 1);
        sqlite3_close(db);
    };
    set_class("{00000000-0000-0000-0000-000000000000}");
    r = Run(call);
    EXPECT_EQ(r.exit_code, 69) << r.out;
    set_class(quorvel::kClassGuid);
    EXPECT_EQ(Run(call).out, "1\n");

    quorvel::test::WriteBytes(snapshot, "quorvel registry snapshot 1\ngarbage");
    EXPECT_EQ(Run(call).out, "1\n");
    EXPECT_EQ(quorvel::test::ReadBytes(snapshot).rfind("quorvel registry snapshot 1\n", 0), 0u);
}

TEST_F(Host, UsageErrorsNameTheirCause) {
    Register();
    struct Case {
        std::vector<std::string> args;
        const char* mention;
    };
    const Case cases[] = {
        {{"call", "PostFtp", "a"}, "PostFtp"},
        {{"call", "PostFtpSit", "ADD", "bob"}, "CFile"},
        {{"call", "PostFtpSit", "ADD", "--CFile=/x"}, "FtpUser"},
        {{"call", "PostFtpSit", "ADD", "bob", "/x", "--MaxNrUsers=ten"}, "MaxNrUsers"},
        {{"call", "PostFtpSit", "ADD", "bob", "/x", "", "", "", "2147483648"}, "MaxNrUsers"},
        {{"call", "PostFtpSit", "ADD", "bob", "/x", "--Bogus=1"}, "Bogus"},
        {{"call", "PostFtpSit", "ADD", "bob", "/x", "--FtpUser=eve"}, "FtpUser"},
        {{"call", "PostFtpSit", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}, "at most 11"},
        {{"call", "PostFtpSit", "ADD", "--FtpUser"}, "--PARAM=VALUE"},
        {{"call"}, "no method"},
        {{"frobnicate"}, "frobnicate"},
        {{"adsi"}, "no verb"},
        {{"adsi", "get", "PROBE://a"}, "get takes"},
        {{"adsi", "set", "PROBE://a", "Name", "--long", "ten"}, "'ten'"},
        {{"adsi", "set", "PROBE://a", "Name", "--long", "1", "2"}, "--list"},
        {{"adsi", "set", "PROBE://a", "Name", "--float", "1"}, "--float"},
        {{"adsi", "rename", "PROBE://a"}, "rename"},
        {{"regsvr", "-x"}, "-x"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = Run(c.args);
        EXPECT_EQ(r.exit_code, 64) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "") << ": " << r.err;
        EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

// A fresh machine already holds the stand-in classes: the probe answers by
// moniker without any registration step.
TEST_F(Host, AdsiPrintsValuesAndFailures) {
    ProcessResult r = Run({"adsi", "get", "PROBE://站点", "Name"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "站点\n");
    r = Run({"adsi", "call", "PROBE://a", "Add", "40", "2"});
    EXPECT_EQ(r.out, "42\n");
    r = Run({"adsi", "call", "PROBE://a", "Echo", "True"});
    EXPECT_EQ(r.out, "True\n");
    r = Run({"adsi", "call", "PROBE://a", "SetInfo"});  // no result: no line
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = Run({"adsi", "set", "PROBE://a", "ServerBindings", "--list", ":80:a", ":80:b"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    r = Run({"adsi", "enum", "PROBE://a"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");

    // A failure: number in decimal and hexadecimal, source, description; exit 1.
    r = Run({"adsi", "get", "PROBE://a", "AppRoot"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("-2147463155 (0x8000500D)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("在缓存中找不到目录属性"), std::string::npos) << r.err;
    r = Run({"adsi", "get", "PROBE://", "Name"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("0x80070003"), std::string::npos) << r.err;
    r = Run({"adsi", "get", "NOSUCH://a", "Name"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("NOSUCH is not registered"), std::string::npos) << r.err;
    r = Run({"adsi", "call", "PROBE://a", "Echo"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("error 450"), std::string::npos) << r.err;
}

TEST_F(Host, UnregisteredOrMissingLibraryIsUnavailable) {
    // A copy of the library, registered and then deleted.
    const std::filesystem::path copy = work_.path() / "libquorvel.so";
    std::filesystem::copy_file(QUORVEL_LIBRARY_PATH, copy);
    ProcessResult r = Run({"regsvr", copy.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(copy.string()), std::string::npos);
    std::filesystem::remove(copy);
    r = Run({"call", "ExitWindows", "x"});
    EXPECT_EQ(r.exit_code, 69);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;

    Register();
    r = Run({"regsvr", "-u", QUORVEL_LIBRARY_PATH});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = Run({"call", "ExitWindows", "x"});
    EXPECT_EQ(r.exit_code, 69);

    r = Run({"regsvr", (work_.path() / "nothing.so").string()});
    EXPECT_EQ(r.exit_code, 69);
}

// Every command answers --help with its usage on stdout and status 0; the
// host's own names the environment, the exit statuses and the reference.
TEST_F(Host, EveryCommandExplainsItself) {
    for (const char* command : {"help", "init", "regsvr", "call", "methods", "adsi", "webmail"}) {
        const ProcessResult r = Run({command, "--help"});
        EXPECT_EQ(r.exit_code, 0) << command << ": " << r.err;
        EXPECT_EQ(r.out.rfind(std::string("    quorvel "), 0), 0u) << command << ": " << r.out;
        EXPECT_NE(r.out.find(std::string(" ") + command), std::string::npos) << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    const ProcessResult r = RunProcess({QUORVEL_HOST_PATH, "--help"}, {"QUORVEL_MACHINE=/srv/quorvel-machine"});
    EXPECT_EQ(r.exit_code, 0);
    for (const char* mention : {"QUORVEL_MACHINE", "~/.local/share/quorvel/machine", "Exit status", "64", "69",
                                "quorvel help", "The machine folder is /srv/quorvel-machine (QUORVEL_MACHINE)",
                                "docs/methods.md"}) {
        EXPECT_NE(r.out.find(mention), std::string::npos) << mention;
    }
    // A usage error shows the command's usage on stderr.
    const ProcessResult wrong = Run({"webmail", "--bogus"});
    EXPECT_EQ(wrong.exit_code, 64);
    EXPECT_NE(wrong.err.find("quorvel [--machine DIR] webmail --mail-dir DIR"), std::string::npos) << wrong.err;
}

TEST_F(Host, HelpPrintsTheReference) {
    ProcessResult r = Run({"help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("  PostWebSit       Add, edit, delete"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  SendMail         "), std::string::npos) << r.out;

    r = Run({"help", "exitwindows"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("ExitWindows: Shut the server down", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("WARNING: ExitWindows(\"SHUTDOWN\") shuts the server down"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Log: 错误号：50，错误源：ExitWindowsEx，错误描述：不支持该请求。"), std::string::npos);

    r = Run({"help", "PostWebSit"});
    EXPECT_NE(r.out.find("站点名或设置含有不允许的字符"), std::string::npos);
    EXPECT_NE(r.out.find("WebServerbindings (String, optional, default \"\")"), std::string::npos) << r.out;

    r = Run({"help", "all"});
    EXPECT_NE(r.out.find("Quorvel methods reference\n========================="), std::string::npos);
    r = Run({"help", "PostFtp"});
    EXPECT_EQ(r.exit_code, 64);
    EXPECT_NE(r.err.find("no method PostFtp"), std::string::npos) << r.err;
}

// stdout keeps the result alone; stderr says why, in UTF-8.
TEST_F(Host, FailingCallsSayWhyOnStderr) {
    Register();
    const std::string missing = (work_.path() / "no-such-servu").string();
    ProcessResult r = Run({"call", "PostFtpSit", "ADD", "bob", missing});
    EXPECT_EQ(r.out, "1\n");
    EXPECT_NE(r.err.find("PostFtpSit answered 1;"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PostFtpSit函数"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("错误号：1，错误源：Ftp软件 ，错误描述：Ftp软件未安装或版本错误"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);

    // Success says nothing.
    r = Run({"call", "BackupSit", "BACKUP", "7", "a", "b", "c"});
    EXPECT_EQ(r.out, "0\n");
    EXPECT_TRUE(r.err.empty()) << r.err;

    // SendMail writes no log: the reference's meaning of its number.
    r = Run({"call", "SendMail", "0", "a@example.com", "b@example.com", "two\nlines", "b", "", "", "127.0.0.1:1"});
    EXPECT_EQ(r.out, "-2147220979\n");
    EXPECT_NE(r.err.find("A line break (CR or LF)"), std::string::npos) << r.err;

    // A direct GetMailPass writes no line; the host names what is missing.
    r = Run({"call", "GetMailPass", "127.0.0.1", missing, "secret"});
    EXPECT_EQ(r.out, "\n");
    EXPECT_NE(r.err.find("no user list"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("says of 1"), std::string::npos) << r.err;
}

TEST_F(Host, OnlyRegsvrAndInitMakeAMachineFolder) {
    const std::filesystem::path absent = work_ / "typo-machine";
    for (const char* command : {"call", "adsi"}) {
        const ProcessResult r =
            RunProcess({QUORVEL_HOST_PATH, "--machine", absent.string(), command, "PostFtpSit", "ISUSER", "a", "b"});
        EXPECT_EQ(r.exit_code, 69) << command;
        EXPECT_NE(r.err.find(absent.string() + " does not exist (No such file or directory)"), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("init"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(absent));
    }
    // One that cannot be made: the system's reason.
    quorvel::test::WriteBytes(work_ / "a-file", "x");
    const std::filesystem::path blocked = work_ / "a-file" / "machine";
    ProcessResult r = RunProcess({QUORVEL_HOST_PATH, "--machine", blocked.string(), "regsvr", QUORVEL_LIBRARY_PATH});
    EXPECT_EQ(r.exit_code, 73);
    EXPECT_NE(r.err.find("cannot make the machine folder " + blocked.string() + ": Not a directory"),
              std::string::npos)
        << r.err;
    r = RunProcess({QUORVEL_HOST_PATH, "--machine", (work_ / "a-file").string(), "call", "ExitWindows", "x"});
    EXPECT_EQ(r.exit_code, 69);
    EXPECT_NE(r.err.find("is not a folder"), std::string::npos) << r.err;

    // init makes a new machine and registers the component on it; never over one.
    const std::filesystem::path fresh = work_ / "fresh";
    r = RunProcess({QUORVEL_HOST_PATH, "init", "--example", fresh.string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("a copy of the example machine"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("registered " QUORVEL_LIBRARY_PATH), std::string::npos) << r.out;
    r = RunProcess({QUORVEL_HOST_PATH, "--machine", fresh.string(), "call", "PostFtpSit", "ADD", "alice", "D:\\Serv-U",
                    "secret", "D:\\ftp\\alice", "D:\\ftp\\alice|RWAMLCDP"});
    EXPECT_EQ(r.out, "0\n") << r.err;
    r = RunProcess({QUORVEL_HOST_PATH, "--machine", fresh.string(), "init"});
    EXPECT_EQ(r.exit_code, 73);
    EXPECT_NE(r.err.find("not an empty folder"), std::string::npos) << r.err;
}

// A path naming another computer says so, with the machine's own name.
TEST_F(Host, AnotherComputerInAPathIsNamed) {
    quorvel::test::WriteBytes(machine_.path() / "machine.ini", "[Machine]\r\nComputerName=WEBHOST01\r\n");
    for (const char* path : {"WinNT://OTHERHOST", "IIS://OTHERHOST/W3SVC"}) {
        const ProcessResult r = Run({"adsi", "enum", path});
        EXPECT_EQ(r.exit_code, 1) << path;
        EXPECT_NE(r.err.find("the computer OTHERHOST in " + std::string(path) + " is not this machine, WEBHOST01"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(Run({"adsi", "enum", "WinNT://webhost01"}).exit_code, 0);
}

}  // namespace
