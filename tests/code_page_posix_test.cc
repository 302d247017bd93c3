// Values the system code page cannot hold, through the component as a script
// calls it: every method that would write one into a file, a record, a form
// or a command line refuses it with result 1 and its text, and changes no
// byte of any file, sends nothing and starts nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>
#include <string>
#include <thread>
#include <vector>

#include "automation/com_holders.h"
#include "automation/objects.h"
#include "component/class_factory.h"
#include "local_server.h"
#include "quorvel_interface.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using automation::Object;
using test::LogWatch;
using test::MessageOf;

constexpr char kFtpInput[] = "错误号：1，错误源：Ftp用户 ，错误描述：用户名、主目录或访问权限含有不允许的字符";
constexpr char kFtpPassword[] = "错误号：1，错误源：Ftp用户 ，错误描述：密码含有不允许的字符";
constexpr char kDomainInput[] = "错误号：1，错误源：邮箱域名 ，错误描述：域名或IP地址含有不允许的字符";
constexpr char kMailboxInput[] = "错误号：1，错误源：邮箱，错误描述：域名、邮箱、姓名、限额超出字段宽度或含有不允许的字符";
constexpr char kMailboxPassword[] = "错误号：1，错误源：邮箱，错误描述：密码含有不允许的字符";
constexpr char kAccountInput[] = "错误号：1，错误源：Windows用户 ，错误描述：用户名、全名、密码或组名含有不允许的字符";
constexpr char kCannotRun[] = "错误号：1，错误源：Cacls，错误描述：程序执行失败(参数不对)";
constexpr char kBackupName[] = "错误号：1，错误源：备份 ，错误描述：备份名含有不允许的字符";

constexpr std::int32_t kSenderRefused = static_cast<std::int32_t>(0x8004020Eu);
constexpr std::int32_t kRecipientRefused = static_cast<std::int32_t>(0x8004020Fu);
constexpr std::int32_t kUnsafeField = static_cast<std::int32_t>(0x8004020Du);

// Every file below a folder, with its bytes.
using Snapshot = std::map<fs::path, std::string>;
Snapshot Files(const fs::path& root) {
    Snapshot files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path()] = test::ReadBytes(entry.path());
    return files;
}

// What changed: a file whose bytes differ or that is gone, or a new file
// with content (a lock file that appears empty changes nothing).
std::vector<std::string> Changes(const Snapshot& before, const Snapshot& after) {
    std::vector<std::string> changed;
    for (const auto& [path, bytes] : before) {
        const auto it = after.find(path);
        if (it == after.end() || it->second != bytes) changed.push_back(path.string());
    }
    for (const auto& [path, bytes] : after)
        if (!before.contains(path) && !bytes.empty()) changed.push_back(path.string());
    return changed;
}

// The component as a script has it: created by its class object, called by name.
Object NewSiteManage() {
    automation::ComPtr<IClassFactory> factory;
    EXPECT_EQ(component::GetClassObject(kClsid, IID_IClassFactory, factory.out_void()), S_OK);
    automation::ComPtr<IDispatch> dispatch;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, dispatch.out_void()), S_OK);
    return Object(std::move(dispatch));
}

class CodePageTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(servu_);
        fs::create_directories(mail_ / "App");
        fs::create_directories(mail_ / "WorldClient");
        fs::create_directories(bak_);
        fs::create_directories(root_ / "web");
        test::WriteBytes(servu_ / "ServUDaemon.ini",
                         "[DOMAINS]\r\nDomain1=0.0.0.0||21|Example|1|0\r\n[Domain1]\r\nUser1=alice|1|0\r\n");
        test::WriteBytes(mail_ / "App" / "Domains.dat", "[example.com]\r\nIP=192.0.2.1\r\n");
        test::WriteBytes(mail_ / "App" / "USERLIST.DAT", "");
        test::WriteBytes(mail_ / "App" / "UserList.sem", "not recreated");
        test::WriteBytes(mail_ / "WorldClient" / "Domains.ini",
                         "[Default:Settings]\r\nNewAccountCreation=No\r\nPort=" + std::to_string(webmail_.port()) +
                             "\r\n");
        test::WriteBytes(machine_.path() / "machine.ini",
                         "[Machine]\r\nComputerName=WEBHOST\r\nCodePage=936\r\n[Mail]\r\nSmtpServer=" +
                             smtp_.address() + "\r\n");
        // The interpreter, where WinExec finds it, records that it ran.
        test::WriteBytes(bin_ / "cmd", "#!/bin/sh\ntouch \"$0.ran\"\n");
        fs::permissions(bin_ / "cmd", fs::perms::owner_all);
        saved_path_ = std::getenv("PATH");
        setenv("PATH", (bin_.path().string() + ":" + saved_path_).c_str(), 1);
        // The directory stand-ins make their stores on first use.
        automation::GetObject(u"WinNT://WEBHOST");
        automation::GetObject(u"IIS://WEBHOST/W3SVC");
    }
    void TearDown() override { setenv("PATH", saved_path_.c_str(), 1); }

    Snapshot AllFiles() const {
        Snapshot files = Files(root_.path());
        files.merge(Files(machine_.path()));
        return files;
    }
    std::u16string Root(const char* sub) const { return (root_ / sub).u16string(); }

    test::TempDir root_;
    test::TempDir bin_;
    test::FreshMachine machine_;
    const fs::path servu_ = root_ / "servu";
    const fs::path mail_ = root_ / "mail";
    const fs::path bak_ = root_ / "bak";
    test::LocalServer webmail_{nullptr};
    test::LocalServer smtp_{nullptr};
    std::string saved_path_;
};

TEST_F(CodePageTest, EveryMethodRefusesAValueOutsideTheCodePageAndTouchesNothing) {
    Object site = NewSiteManage();
    const std::u16string ftp = Root("servu"), mail = Root("mail"), bak = Root("bak"), web = Root("web");
    const std::u16string smtp = platform::FromUtf8(smtp_.address());
    using Call = std::function<automation::Value(const std::u16string& bad)>;
    const struct {
        const char* what;
        Call call;
        const char* line;          // the log line; none when null
        std::int32_t result = 1;   // SendMail: the component's error number
    } cases[] = {
        {"PostFtpSit ADD user", [&](auto& bad) {
             return site.Call(u"PostFtpSit", {u"ADD", bad, ftp, u"pw", u"D:\\ftp", u"D:\\ftp|RWAMLCDP", 1, 1, 1, 1, 1});
         }, kFtpInput},
        {"PostFtpSit ADD home", [&](auto& bad) {
             return site.Call(u"PostFtpSit", {u"ADD", u"bob", ftp, u"pw", u"D:\\" + bad, u"x", 1, 1, 1, 1, 1});
         }, kFtpInput},
        {"PostFtpSit EDIT access", [&](auto& bad) {
             return site.Call(u"PostFtpSit", {u"EDIT", u"alice", ftp, u"pw", u"D:\\ftp", u"a," + bad, 1, 1, 1, 1, 1});
         }, kFtpInput},
        {"PostFtpSit DEL user", [&](auto& bad) {
             return site.Call(u"PostFtpSit", {u"DEL", u"alice" + bad, ftp, u"", u"", u"", 0, 0, 0, 0, 0});
         }, kFtpInput},
        {"PostFtpSit MPASS password", [&](auto& bad) {
             return site.Call(u"PostFtpSit", {u"MPASS", u"alice", ftp, bad, u"", u"", 0, 0, 0, 0, 0});
         }, kFtpPassword},
        {"PostFtpSit ADD password", [&](auto& bad) {
             return site.Call(u"PostFtpSit", {u"ADD", u"bob", ftp, bad, u"D:\\ftp", u"x", 1, 1, 1, 1, 1});
         }, kFtpPassword},
        {"PostEmailDomain ADD domain", [&](auto& bad) {
             return site.Call(u"PostEmailDomain", {u"ADD", mail, bad + u".com", u"192.0.2.9", true, 1, 1, 1, true});
         }, kDomainInput},
        {"PostEmailDomain EDIT address", [&](auto& bad) {
             return site.Call(u"PostEmailDomain", {u"EDIT", mail, u"example.com", bad, true, 1, 1, 1, true});
         }, kDomainInput},
        {"PostEmailDomain DEL domain", [&](auto& bad) {
             return site.Call(u"PostEmailDomain", {u"DEL", mail, u"example" + bad + u".com", u"", false, 0, 0, 0, false});
         }, kDomainInput},
        {"PostEmail ADD mailbox", [&](auto& bad) {
             return site.Call(u"PostEmail", {u"ADD", mail, u"example.com", bad, u"127.0.0.1", u"n", u"pw", 1, 1});
         }, kMailboxInput},
        {"PostEmail ADD domain", [&](auto& bad) {
             return site.Call(u"PostEmail", {u"ADD", mail, bad + u".com", u"info", u"127.0.0.1", u"n", u"pw", 1, 1});
         }, kMailboxInput},
        {"PostEmail EDIT real name", [&](auto& bad) {
             return site.Call(u"PostEmail", {u"EDIT", mail, u"example.com", u"info", u"127.0.0.1", bad, u"pw", 1, 1});
         }, kMailboxInput},
        {"PostEmail DEL mailbox", [&](auto& bad) {
             return site.Call(u"PostEmail", {u"DEL", mail, u"example.com", bad, u"127.0.0.1", u"", u"", 0, 0});
         }, kMailboxInput},
        {"PostEmail ADD password", [&](auto& bad) {
             return site.Call(u"PostEmail", {u"ADD", mail, u"example.com", u"info", u"127.0.0.1", u"n", bad, 1, 1});
         }, kMailboxPassword},
        // Called directly it has no log of its own: the empty text tells.
        {"GetMailPass password", [&](auto& bad) {
             return site.Call(u"GetMailPass", {u"127.0.0.1", mail, u"pw" + bad});
         }, nullptr, 0},
        {"PostNTUser ADDUSER name", [&](auto& bad) {
             return site.Call(u"PostNTUser", {u"ADDUSER", u"Full", bad, u"Secret-1", u"Users"});
         }, kAccountInput},
        {"PostNTUser ADDUSER full name", [&](auto& bad) {
             return site.Call(u"PostNTUser", {u"ADDUSER", bad, u"bob", u"Secret-1", u"Users"});
         }, kAccountInput},
        {"PostNTUser ADDUSER password", [&](auto& bad) {
             return site.Call(u"PostNTUser", {u"ADDUSER", u"Full", u"bob", bad, u"Users"});
         }, kAccountInput},
        {"PostNTUser ADDUSER group", [&](auto& bad) {
             return site.Call(u"PostNTUser", {u"ADDUSER", u"Full", u"bob", u"Secret-1", bad});
         }, kAccountInput},
        {"PostNTUser EDITUSER password", [&](auto& bad) {
             return site.Call(u"PostNTUser", {u"EDITUSER", u"Full", u"Guest", bad, u""});
         }, kAccountInput},
        {"PostNTUser ADDUSERTOGROUP group", [&](auto& bad) {
             return site.Call(u"PostNTUser", {u"ADDUSERTOGROUP", u"", u"Guest", u"", bad});
         }, kAccountInput},
        {"PostNTUser DELUSER name", [&](auto& bad) {
             return site.Call(u"PostNTUser", {u"DELUSER", u"", u"Guest" + bad, u"", u""});
         }, kAccountInput},
        {"PostCACLS ADD folder", [&](auto& bad) {
             return site.Call(u"PostCACLS", {u"ADD", web + u"/" + bad, u"nobody", u"R"});
         }, kCannotRun},
        {"PostCACLS ADD account", [&](auto& bad) {
             return site.Call(u"PostCACLS", {u"ADD", web, bad, u"R"});
         }, kCannotRun},
        {"PostCACLS ADD permission", [&](auto& bad) {
             return site.Call(u"PostCACLS", {u"ADD", web, u"nobody", bad});
         }, kCannotRun},
        {"PostCACLS DEL account", [&](auto& bad) {
             return site.Call(u"PostCACLS", {u"DEL", web, u"nobody" + bad, u""});
         }, kCannotRun},
        {"BackupSit BACKUP FTP", [&](auto& bad) {
             return site.Call(u"BackupSit", {u"BACKUP", 1, bad, ftp, bak});
         }, kBackupName},
        {"BackupSit BACKUP mail", [&](auto& bad) {
             return site.Call(u"BackupSit", {u"BACKUP", 2, bad, mail, bak});
         }, kBackupName},
        {"BackupSit BACKUP IIS", [&](auto& bad) {
             return site.Call(u"BackupSit", {u"BACKUP", 0, bad, u"", u""});
         }, kBackupName},
        {"SendMail JMail sender", [&](auto& bad) {
             return site.Call(u"SendMail", {0, bad + u"@example.com", u"b@example.com", u"s", u"b", u"", u"", smtp});
         }, nullptr, kSenderRefused},
        {"SendMail JMail message recipient", [&](auto& bad) {
             return site.Call(u"SendMail", {1, u"a@example.com", u"Name" + bad + u" <b@example.com>", u"s", u"b",
                                            u"u", u"p", smtp});
         }, nullptr, kRecipientRefused},
        {"SendMail CDONTS recipient", [&](auto& bad) {
             return site.Call(u"SendMail", {2, u"a@example.com", bad + u"@example.com", u"s", u"b", u"", u"", u""});
         }, nullptr, kRecipientRefused},
        {"SendMail subject", [&](auto& bad) {
             return site.Call(u"SendMail", {0, u"a@example.com", u"b@example.com", bad, u"b", u"", u"", smtp});
         }, nullptr, kUnsafeField},
        {"SendMail body", [&](auto& bad) {
             return site.Call(u"SendMail", {2, u"a@example.com", u"b@example.com", u"s", u"<p>" + bad, u"", u"", u""});
         }, nullptr, kUnsafeField},
        {"SendMail password", [&](auto& bad) {
             return site.Call(u"SendMail", {1, u"a@example.com", u"b@example.com", u"s", u"b", u"u", bad, smtp});
         }, nullptr, kUnsafeField},
    };

    const Snapshot before = AllFiles();
    // Outside the BMP, another script, a Latin letter the code page lacks
    // (best fit would make it "a"), a lone surrogate.
    for (const std::u16string bad : {u"a\U0001F600", u"한국", u"\u00e4", u"x\xD800"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " with " + testing::PrintToString(bad));
            LogWatch log;
            const automation::Value result = c.call(bad);
            if (std::string_view(c.what).starts_with("GetMailPass")) {
                EXPECT_EQ(result.Text(), u"");
            } else {
                EXPECT_EQ(result.Long(), c.result);
            }
            const auto lines = log.NewLines();
            if (c.line == nullptr) {
                EXPECT_TRUE(lines.empty());
            } else {
                EXPECT_EQ(lines.size(), 1u);
                if (!lines.empty()) {
                    EXPECT_EQ(MessageOf(lines.back()), c.line);
                }
            }
            EXPECT_EQ(Changes(before, AllFiles()), std::vector<std::string>());
        }
    }
    EXPECT_EQ(webmail_.connections(), 0);
    EXPECT_EQ(smtp_.connections(), 0);
    // Give a wrongly started interpreter time to show itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(bin_ / "cmd.ran"));

    // Chinese is the code page's own: the same calls go through.
    EXPECT_EQ(site.Call(u"PostFtpSit", {u"ADD", u"用户", ftp, u"口令", u"D:\\网站", u"x", 1, 1, 1, 1, 1}).Long(), 0);
    EXPECT_EQ(site.Call(u"PostEmailDomain", {u"ADD", mail, u"例子.com", u"192.0.2.9", true, 1, 1, 1, true}).Long(), 0);
    EXPECT_EQ(site.Call(u"PostNTUser", {u"ADDUSER", u"张三", u"张三", u"口令-1234", u"Users"}).Long(), 0);
    EXPECT_EQ(site.Call(u"PostCACLS", {u"ADD", web, u"张三", u"R"}).Long(), 0);
}

// The metabase holds Unicode: a site name outside the code page is kept as
// given; only what it cannot hold, a lone surrogate, is refused, and then
// before anything is made.
TEST_F(CodePageTest, WebSitesKeepUnicodeAndRefuseOnlyLoneSurrogates) {
    Object site = NewSiteManage();
    auto add = [&](const std::u16string& action, const std::u16string& name, const std::u16string& bindings) {
        return site.Call(u"PostWebSit", {action, name, u"D:\\web", u"index.htm", u"", bindings, u"R", u"D:\\logs",
                                         1, 1, 1, 1, u"IUSR_X", u"pw"})
            .Long();
    };
    EXPECT_EQ(add(u"ADD", u"a\U0001F600", u":80:a.example"), 0);
    EXPECT_EQ(automation::GetObject(u"IIS://WEBHOST/W3SVC/1").Get(u"ServerComment").Text(), u"a\U0001F600");
    EXPECT_EQ(add(u"ISSEARCH", u"a\U0001F600", u""), 0);

    const Snapshot before = AllFiles();
    const std::u16string lone = u"b\xD800";
    for (const auto& [action, name, bindings] : {std::tuple{u"ADD", lone, std::u16string(u":80:b")},
                                                 std::tuple{u"ADD", std::u16string(u"b"), u":80:" + lone},
                                                 std::tuple{u"EDIT", std::u16string(u"a\U0001F600"), lone}}) {
        LogWatch log;
        EXPECT_EQ(add(action, name, bindings), 1);
        const auto lines = log.NewLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(MessageOf(lines[0]), "错误号：1，错误源：Web站点 ，错误描述：站点名或设置含有不允许的字符");
    }
    EXPECT_EQ(Changes(before, AllFiles()), std::vector<std::string>());
    EXPECT_THROW(automation::GetObject(u"IIS://WEBHOST/W3SVC/2"), StepError);
}

}  // namespace
}  // namespace quorvel
