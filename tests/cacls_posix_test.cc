// The ACL tool, the command interpreter and PostCACLS on the POSIX machine:
// what reaches the kernel's access lists.
#include <acl/libacl.h>
#include <gtest/gtest.h>
#include <sys/acl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "permissions/post_cacls.h"
#include "run_process.h"
#include "test_support.h"
#include "tests/audit_watch.h"

namespace quorvel {
namespace {

using test::ProcessResult;
using test::RunProcess;
using test::LogWatch;
using test::MessageOf;
using test::TempDir;

const std::string kBuild = std::filesystem::path(QUORVEL_HOST_PATH).parent_path().string();
const std::string kCacls = kBuild + "/cacls";
const std::string kCmd = kBuild + "/cmd";
constexpr char kCannotRun[] = "错误号：1，错误源：Cacls，错误描述：程序执行失败(参数不对)";

// The entries of a list, "user:nobody:r-x,group::r-x,...".
std::string AclText(const std::filesystem::path& path, acl_type_t type = ACL_TYPE_ACCESS) {
    acl_t acl = acl_get_file(path.c_str(), type);
    if (acl == nullptr) return "<none>";
    char* text = acl_to_any_text(acl, nullptr, ',', 0);
    std::string result = text != nullptr ? text : "";
    acl_free(text);
    acl_free(acl);
    return result;
}

// One entry's permissions ("r-x"), empty when the list has none for `who` ("user:nobody").
std::string Entry(const std::filesystem::path& path, const std::string& who, acl_type_t type = ACL_TYPE_ACCESS) {
    const std::string text = "," + AclText(path, type) + ",";
    const size_t at = text.find("," + who + ":");
    if (at == std::string::npos) return "";
    return text.substr(at + who.size() + 2, 3);
}

// The component does not wait for its command: look until it is done.
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

ProcessResult Cacls(std::vector<std::string> args) {
    args.insert(args.begin(), kCacls);
    return RunProcess(args);
}

class AclTool : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "sub" / "deeper");
        test::WriteBytes(dir_ / "top.txt", "x");
        test::WriteBytes(dir_ / "sub" / "inner.txt", "x");
    }
    std::string Root() const { return dir_.path().string(); }
    TempDir dir_;
};

TEST_F(AclTool, EachPermissionLetterOnFoldersAndFiles) {
    const struct {
        const char* letter;
        const char* folder;
        const char* file;
    } cases[] = {{"R", "r-x", "r-x"}, {"W", "-wx", "-w-"}, {"C", "rwx", "rwx"}, {"F", "rwx", "rwx"},
                 {"N", "---", "---"}, {"r", "r-x", "r-x"}};
    for (const auto& c : cases) {
        const ProcessResult r = Cacls({Root(), "/t", "/e", "/p", std::string("nobody:") + c.letter});
        ASSERT_EQ(r.exit_code, 0) << c.letter << r.err;
        EXPECT_EQ(Entry(dir_.path(), "user:nobody"), c.folder) << c.letter;
        EXPECT_EQ(Entry(dir_.path(), "user:nobody", ACL_TYPE_DEFAULT), c.folder) << c.letter;
        EXPECT_EQ(Entry(dir_ / "sub" / "deeper", "user:nobody"), c.folder) << c.letter;
        EXPECT_EQ(Entry(dir_ / "top.txt", "user:nobody"), c.file) << c.letter;
        EXPECT_EQ(Entry(dir_ / "sub" / "inner.txt", "user:nobody"), c.file) << c.letter;
        // /p replaced the earlier entry instead of adding a second one.
        const std::string text = AclText(dir_.path());
        EXPECT_EQ(text.find("user:nobody:"), text.rfind("user:nobody:")) << text;
    }
}

TEST_F(AclTool, WithoutTreeOnlyThePathChanges) {
    ASSERT_EQ(Cacls({Root(), "/E", "/P", "nogroup:C"}).exit_code, 0);
    EXPECT_EQ(Entry(dir_.path(), "group:nogroup"), "rwx");
    EXPECT_EQ(Entry(dir_ / "sub", "group:nogroup"), "");
    EXPECT_EQ(Entry(dir_ / "top.txt", "group:nogroup"), "");
}

TEST_F(AclTool, RevokeRemovesTheEntriesEverywhere) {
    ASSERT_EQ(Cacls({Root(), "/t", "/e", "/p", "nobody:C", "nogroup:R"}).exit_code, 0);
    const ProcessResult r = Cacls({Root(), "/t", "/e", "/r", "nobody"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const auto& path : {dir_.path(), dir_ / "sub" / "deeper", dir_ / "sub" / "inner.txt"}) {
        EXPECT_EQ(Entry(path, "user:nobody"), "") << path;
        EXPECT_EQ(Entry(path, "group:nogroup"), "r-x") << path;
    }
    EXPECT_EQ(Entry(dir_.path(), "user:nobody", ACL_TYPE_DEFAULT), "");
    // Revoking what is not there is no failure.
    EXPECT_EQ(Cacls({Root(), "/t", "/e", "/r", "nobody"}).exit_code, 0);
}

TEST_F(AclTool, NewFilesAndFoldersInherit) {
    ASSERT_EQ(Cacls({Root(), "/t", "/e", "/p", "nobody:W"}).exit_code, 0);
    test::WriteBytes(dir_ / "sub" / "later.txt", "x");
    std::filesystem::create_directory(dir_ / "sub" / "later");
    EXPECT_NE(Entry(dir_ / "sub" / "later.txt", "user:nobody"), "");
    EXPECT_EQ(Entry(dir_ / "sub" / "later", "user:nobody"), "-wx");
    EXPECT_EQ(Entry(dir_ / "sub" / "later", "user:nobody", ACL_TYPE_DEFAULT), "-wx");
}

TEST_F(AclTool, WindowsPathsAndChineseNames) {
    // D: of this test's machine, matched without regard to case.
    const std::filesystem::path drive = std::filesystem::path(std::getenv("QUORVEL_MACHINE")) / "drives" / "D";
    std::filesystem::create_directories(drive / "Web" / "站点一");
    ASSERT_EQ(Cacls({"d:\\WEB\\站点一", "/t", "/e", "/p", "nobody:R"}).exit_code, 0);
    EXPECT_EQ(Entry(drive / "Web" / "站点一", "user:nobody"), "r-x");
    EXPECT_EQ(Entry(drive / "Web", "user:nobody"), "");
}

TEST_F(AclTool, OtherFormsChangeNothing) {
    const std::string before = AclText(dir_.path());
    const std::vector<std::vector<std::string>> forms = {
        {},
        {Root()},
        {Root(), "/t", "/p", "nobody:R"},           // no /e: replacing whole lists is not done
        {Root(), "/t", "/e"},                       // nothing to do
        {Root(), "/t", "/e", "/p", "nobody"},       // no permission
        {Root(), "/t", "/e", "/p", "nobody:X"},     // unknown letter
        {Root(), "/t", "/e", "/p", "nobody:RW"},
        {Root(), "/t", "/e", "/g", "nobody:R"},     // unknown switch
        {Root(), "/t", "/e", "/p", "nobody:R", "/r", "nogroup"},
        {Root(), "/t", "/e", "/p", "no-such-user-here:R"},
        {Root() + "/missing", "/t", "/e", "/p", "nobody:R"},
    };
    for (const auto& form : forms) {
        const ProcessResult r = Cacls(form);
        EXPECT_NE(r.exit_code, 0) << testing::PrintToString(form);
        EXPECT_FALSE(r.err.empty()) << testing::PrintToString(form);
    }
    EXPECT_EQ(AclText(dir_.path()), before);
    EXPECT_EQ(Entry(dir_ / "top.txt", "user:nobody"), "");
    const ProcessResult help = Cacls({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("/p"), std::string::npos);
}

TEST_F(AclTool, TheInterpreterRunsTheComponentsLine) {
    ProcessResult r = RunProcess({kCmd, "/c", "echo", "y|", "CACLS", Root(), "/t", "/e", "/p", "nobody:C"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Entry(dir_ / "sub", "user:nobody"), "rwx");
    // The prefix alone runs the tool without arguments: nothing changes.
    r = RunProcess({kCmd, "/c", "echo", "y|", "CACLS"});
    EXPECT_NE(r.exit_code, 0);
    // A second command, a redirection or another pipe runs nothing.
    for (const char* extra : {"&", "&&", ">", "<", "|", "^"}) {
        r = RunProcess({kCmd, "/c", "echo", "y|", "CACLS", Root(), "/t", "/e", "/r", "nobody", extra, "x"});
        EXPECT_NE(r.exit_code, 0) << extra;
    }
    EXPECT_EQ(Entry(dir_ / "sub", "user:nobody"), "rwx");
}

// PostCACLS, with a recording program standing where the interpreter is found.
class PostCaclsTest : public testing::Test {
protected:
    void SetUp() override {
        const std::filesystem::path recorder = bin_ / "cmd";
        test::WriteBytes(recorder, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args.tmp\"\n"
                                   "mv \"$0.args.tmp\" \"$0.args\"\n");
        std::filesystem::permissions(recorder, std::filesystem::perms::owner_all);
        saved_path_ = std::getenv("PATH");
        setenv("PATH", (bin_.path().string() + ":" + saved_path_).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", saved_path_.c_str(), 1); }
    // The arguments the interpreter got, one per line; empty when it never ran.
    std::string Recorded() const {
        const auto file = bin_ / "cmd.args";
        Eventually([&] { return std::filesystem::exists(file); });
        return test::ReadBytes(file);
    }
    TempDir bin_;
    std::string saved_path_;
};

TEST_F(PostCaclsTest, TheLineOfEachAction) {
    test::AuditWatch audit;
    EXPECT_EQ(permissions::PostCACLS(u"add", u"d:\\web\\site1", u"u1", u"C"), 0);
    EXPECT_EQ(Recorded(), "/c\necho\ny|\nCACLS\nd:\\web\\site1\n/t\n/e\n/p\nu1:C\n");
    std::filesystem::remove(bin_ / "cmd.args");
    EXPECT_EQ(permissions::PostCACLS(u"Del", u"d:\\web\\site1", u"u1", u"ignored"), 0);
    EXPECT_EQ(Recorded(), "/c\necho\ny|\nCACLS\nd:\\web\\site1\n/t\n/e\n/r\nu1\n");
    std::filesystem::remove(bin_ / "cmd.args");
    EXPECT_EQ(permissions::PostCACLS(u"LIST", u"d:\\web", u"u1", u"C"), 0);
    EXPECT_EQ(Recorded(), "/c\necho\ny|\nCACLS\n");
    std::filesystem::remove(bin_ / "cmd.args");
    // Blanks split the folder unless the caller quotes it; Chinese passes the code page.
    EXPECT_EQ(permissions::PostCACLS(u"ADD", u"d:\\my web", u"用户", u"R"), 0);
    EXPECT_EQ(Recorded(), "/c\necho\ny|\nCACLS\nd:\\my\nweb\n/t\n/e\n/p\n用户:R\n");
    std::filesystem::remove(bin_ / "cmd.args");
    EXPECT_EQ(permissions::PostCACLS(u"ADD", u"\"d:\\my web\"", u"u1", u"F"), 0);
    EXPECT_EQ(Recorded(), "/c\necho\ny|\nCACLS\nd:\\my web\n/t\n/e\n/p\nu1:F\n");
    // The audit trail holds the command line started (its "|" escaped as in
    // any list); LIST changes nothing.
    const std::vector<std::string> lines = audit.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], test::Tabbed({"PostCACLS", "ADD", "d:\\web\\site1", "0", "d:\\web\\site1", "WinExec()", "-",
                                      "cmd /c echo y%7C CACLS d:\\web\\site1 /t /e /p u1:C"}));
    EXPECT_EQ(lines[1], test::Tabbed({"PostCACLS", "DEL", "d:\\web\\site1", "0", "d:\\web\\site1", "WinExec()", "-",
                                      "cmd /c echo y%7C CACLS d:\\web\\site1 /t /e /r u1"}));
}

TEST_F(PostCaclsTest, MetacharactersAreRefusedAndStartNothing) {
    const std::u16string metacharacters[] = {u"&", u"|", u"<", u">", u"^", u"%", u"\r", u"\n", std::u16string(1, u'\0')};
    for (const std::u16string& bad : metacharacters) {
        for (int field = 0; field < 3; ++field) {
            std::u16string args[3] = {u"d:\\web", u"u1", u"C"};
            args[field] = u"x" + bad + u"touch marker";
            LogWatch log;
            EXPECT_EQ(permissions::PostCACLS(u"ADD", args[0], args[1], args[2]), 1);
            const auto lines = log.NewLines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(MessageOf(lines[0]), kCannotRun);
            EXPECT_NE(lines[0].find("PostCACLS函数"), std::string::npos);
        }
    }
    EXPECT_EQ(permissions::PostCACLS(u"DEL", u"d:\\web", u"u1", u"%PATH%"), 1);
    // Give a wrongly started interpreter time to show itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(bin_ / "cmd.args"));
}

TEST_F(PostCaclsTest, AnAccountOrPermissionThatWouldMakeAnotherArgumentStartsNothing) {
    const struct {
        const char16_t* account;
        const char16_t* permission;
    } cases[] = {
        {u"u1", u"R daemon:F"},   // would grant daemon full control
        {u"u1 daemon:F", u"R"},   {u"u1", u"R\tdaemon:F"}, {u"u1", u"\"R daemon:F\""}, {u"\"u1", u"R"},
        {u"daemon:F", u"R"},      {u"u1", u"R:F"},          {u"u1", u"R /r daemon"},  {u"/r", u"R"},
        {u"u1", u"/T"},           {u"u1", u"R\x0b"},
    };
    for (const auto& c : cases) {
        for (const char16_t* action : {u"ADD", u"DEL"}) {
            SCOPED_TRACE(platform::ToUtf8(std::u16string(action) + u" " + c.account + u" " + c.permission));
            LogWatch log;
            EXPECT_EQ(permissions::PostCACLS(action, u"d:\\web", c.account, c.permission), 1);
            const auto lines = log.NewLines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(MessageOf(lines[0]), kCannotRun);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(bin_ / "cmd.args"));
    // A domain account and a folder with blanks still go as they are.
    EXPECT_EQ(permissions::PostCACLS(u"ADD", u"d:\\my web /t", u"HOST\\u1", u"C"), 0);
    EXPECT_EQ(Recorded(), "/c\necho\ny|\nCACLS\nd:\\my\nweb\n/t\n/t\n/e\n/p\nHOST\\u1:C\n");
}

TEST_F(PostCaclsTest, AnInterpreterThatCannotBeStartedIsResultOne) {
    setenv("PATH", "/nonexistent", 1);
    LogWatch log;
    EXPECT_EQ(permissions::PostCACLS(u"ADD", u"d:\\web", u"u1", u"C"), 1);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), kCannotRun);
}

// The whole path as a client takes it: host, registered library, WinExec,
// the interpreter, the ACL tool, the kernel.
TEST(PostCaclsThroughTheHost, GrantAndRevokeReachTheKernel) {
    TempDir machine;
    TempDir folder;
    std::filesystem::create_directories(folder / "a" / "b");
    const auto host = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {QUORVEL_HOST_PATH, "--machine", machine.path().string()});
        return RunProcess(args);
    };
    ASSERT_EQ(host({"regsvr", QUORVEL_LIBRARY_PATH}).exit_code, 0);
    ProcessResult r = host({"call", "PostCACLS", "ADD", folder.path().string(), "nobody", "C"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");
    EXPECT_TRUE(Eventually([&] { return Entry(folder / "a" / "b", "user:nobody") == "rwx"; }))
        << AclText(folder / "a" / "b");
    r = host({"call", "PostCACLS", "del", folder.path().string(), "nobody", ""});
    EXPECT_EQ(r.out, "0\n");
    EXPECT_TRUE(Eventually([&] { return Entry(folder / "a" / "b", "user:nobody").empty(); }))
        << AclText(folder / "a" / "b");
    r = host({"call", "PostCACLS", "ADD", folder.path().string() + " & touch " + (folder / "marker").string(),
              "nobody", "C"});
    EXPECT_EQ(r.out, "1\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(folder / "marker"));
}

}  // namespace
}  // namespace quorvel
