// Mailbox calls after one that was killed part-way: the states a kill leaves
// at each step boundary of GetMailPass and PostEmail, planted, then the next
// call against a scripted webmail server. The same test in both builds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "component/frame/frame.h"
#include "mail/files/user_list.h"
#include "mail/get_mail_pass.h"
#include "mail/post_email.h"
#include "scripted_webmail.h"
#include "test_support.h"

namespace quorvel::mail {
namespace {

using test::LogWatch;
using test::MailRecordLine;
using test::MessageOf;
using test::ReadBytes;
using test::TemporaryRecordLine;
using test::WriteBytes;

const std::string kLeftRemoved = "错误号：5，错误源：Mail软件 ，错误描述：已删除中断调用遗留的临时帐号";
const std::string kNotThisRequests = "错误号：3，错误源：Mail软件 ，错误描述：用户列表末行不是本次添加的临时帐号";

// What a killed call may leave, from the first step boundary to the last:
// nothing (killed before switching creation on, after the removal, or in
// PostEmail after the lookup), creation on (killed before the webmail server
// appended), creation on and the temporary record (killed before switching
// it off), the temporary record alone (killed before removing it).
struct Left {
    const char* what;
    bool creation_on;
    bool record;
};
constexpr Left kLeft[] = {
    {"nothing", false, false},
    {"creation on", true, false},
    {"creation on and the record", true, true},
    {"the record", false, true},
};

class MailAfterAKill : public testing::Test {
protected:
    MailAfterAKill() {
        std::filesystem::create_directories(dir_ / "App");
        std::filesystem::create_directories(dir_ / "WorldClient");
        WriteBytes(list(), kOthers);
        Creation("No");
    }
    std::filesystem::path list() const { return dir_ / "App" / "USERLIST.DAT"; }
    std::filesystem::path settings() const { return dir_ / "WorldClient" / "Domains.ini"; }
    void Creation(const std::string& value) const {
        WriteBytes(settings(), "[Default:Settings]\r\nNewAccountCreation=" + value +
                                   "\r\nPort=" + std::to_string(webmail_.port()) + "\r\n");
    }
    bool CreationOff() const { return ReadBytes(settings()).find("NewAccountCreation=No\r\n") != std::string::npos; }
    void Plant(const Left& left) const {
        Creation(left.creation_on ? "Yes" : "No");
        // The killed call's password, which must not reach anyone.
        if (left.record) WriteBytes(list(), ReadBytes(list()) + TemporaryRecordLine(u"F-killed"));
    }
    std::int32_t Add(const std::u16string& box, const std::u16string& password,
                     const std::u16string& domain = u"example.com") {
        return PostEmail(u"ADD", dir_.u16(), domain, box, u"127.0.0.1", u"", password, 0, 0,
                         [](const std::u16string& a, const std::u16string& d, const std::u16string& p) {
                             return GetMailPass(a, d, p);
                         });
    }
    std::string Record(const std::u16string& box, const std::u16string& stored) const {
        return platform::ToAnsi(
                   *BuildRecord({u"example.com", box, u"", MailboxFolder(dir_.u16(), u"example.com", box), stored, 0, 0})) +
               "\r\n";
    }
    // GetMailPass as PostEmail calls it: into its caller's open log.
    std::u16string Lookup(const std::u16string& password) {
        std::u16string stored;
        CallFrame caller(u"PostEmail", ErrorMode::ContinueOnError);
        caller.Run([&] {
            stored = GetMailPass(u"127.0.0.1", dir_.u16(), password);
            return caller.Finish();
        });
        return stored;
    }
    static std::vector<std::string> Messages(const LogWatch& log, const std::string& label) {
        std::vector<std::string> messages;
        for (const std::string& line : log.NewLines()) {
            EXPECT_NE(line.find(label), std::string::npos) << line;
            messages.push_back(MessageOf(line));
        }
        return messages;
    }

    const std::string kOthers = MailRecordLine(u"example.com", u"info", u"Info", u"INFOFORM") +
                                MailRecordLine(u"example.org", u"sales", u"", u"SALESFORM");
    test::TempDir dir_;
    test::ScriptedWebmail webmail_{dir_.path()};
};

TEST_F(MailAfterAKill, TheNextAddStoresItsOwnPasswordAndLeavesCreationOff) {
    for (const Left& left : kLeft) {
        SCOPED_TRACE(left.what);
        WriteBytes(list(), kOthers);
        Plant(left);
        LogWatch log;
        EXPECT_EQ(Add(u"new", u"fresh"), 0);
        EXPECT_EQ(ReadBytes(list()), kOthers + Record(u"new", u"F-fresh"));
        EXPECT_TRUE(CreationOff());
        EXPECT_EQ(Messages(log, "PostEmail函数"), left.record ? std::vector<std::string>{kLeftRemoved}
                                                               : std::vector<std::string>{});
    }
}

TEST_F(MailAfterAKill, TheNextLookupReturnsItsOwnFormIntoItsCallersLog) {
    for (const Left& left : kLeft) {
        SCOPED_TRACE(left.what);
        WriteBytes(list(), kOthers);
        Plant(left);
        LogWatch log;
        EXPECT_EQ(Lookup(u"fresh"), u"F-fresh             ");
        EXPECT_EQ(ReadBytes(list()), kOthers);
        EXPECT_TRUE(CreationOff());
        EXPECT_EQ(Messages(log, "GetMailPass函数"), left.record ? std::vector<std::string>{kLeftRemoved}
                                                                 : std::vector<std::string>{});
    }
    // Called directly there is no log, and the repair is the same.
    Plant(kLeft[2]);
    LogWatch direct;
    EXPECT_EQ(GetMailPass(u"127.0.0.1", dir_.u16(), u"again"), u"F-again             ");
    EXPECT_EQ(ReadBytes(list()), kOthers);
    EXPECT_TRUE(CreationOff());
    EXPECT_TRUE(direct.NewLines().empty());
}

TEST_F(MailAfterAKill, ACallRefusedBeforeItsLookupStillPutsThingsRight) {
    Plant(kLeft[2]);
    LogWatch log;
    EXPECT_EQ(Add(u"new", u"fresh", std::u16string(46, u'd')), 1);
    EXPECT_EQ(ReadBytes(list()), kOthers);
    EXPECT_TRUE(CreationOff());
    EXPECT_EQ(webmail_.requests(), 0);
    const auto messages = Messages(log, "PostEmail函数");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], kLeftRemoved);

    // No user list: creation is still switched off.
    Creation("Yes");
    std::filesystem::remove(list());
    EXPECT_EQ(Add(u"new", u"fresh"), 1);
    EXPECT_TRUE(CreationOff());
}

TEST_F(MailAfterAKill, OnlyARecordThisRequestAddedIsTaken) {
    // Someone else's record came in with the temporary one: not taken, nothing
    // removed; the next call removes the temporary record and goes on.
    const std::string stranger = MailRecordLine(u"localhost", u"stranger", u"", u"STRANGERFORM");
    webmail_.before_record = stranger;
    LogWatch log;
    EXPECT_EQ(Lookup(u"fresh"), u"");
    EXPECT_EQ(ReadBytes(list()), kOthers + stranger + TemporaryRecordLine(u"F-fresh"));
    EXPECT_EQ(Messages(log, "GetMailPass函数"), std::vector<std::string>{kNotThisRequests});
    webmail_.before_record.clear();
    EXPECT_EQ(Add(u"new", u"second"), 0);
    EXPECT_EQ(ReadBytes(list()), kOthers + stranger + Record(u"new", u"F-second"));

    // A temporary record that is not last (a sign-up came after it while
    // creation was left on) goes too; a mailbox of that name with another
    // full name is a mailbox like any other.
    const std::string namesake = MailRecordLine(u"example.net", u"Quorvel", u"Q. Orvel", u"NAMESAKEFORM");
    WriteBytes(list(), kOthers + TemporaryRecordLine(u"F-killed") + stranger + namesake);
    Creation("Yes");
    LogWatch repaired;
    EXPECT_EQ(Lookup(u"third"), u"F-third             ");
    EXPECT_EQ(ReadBytes(list()), kOthers + stranger + namesake);
    EXPECT_EQ(Messages(repaired, "GetMailPass函数"), std::vector<std::string>{kLeftRemoved});
}

}  // namespace
}  // namespace quorvel::mail
