// Mail domains and mailboxes: the record layout, the lookup, and the two
// methods over their files (the webmail lookup replaced by a stand-in).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "mail/files/user_list.h"
#include "mail/get_mail_pass.h"
#include "mail/post_email.h"
#include "mail/post_email_domain.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "test_support.h"

namespace quorvel::mail {
namespace {

using test::LogWatch;
using test::MessageOf;
using test::ReadBytes;
using test::WriteBytes;

const std::u16string kStored = u"ABCDEFGHIJ0123456789";

std::string Ansi(std::u16string_view text) { return platform::ToAnsi(text); }

TEST(MailRecord, FieldsArePaddedToTheirWidthsAndCountedInCharacters) {
    Mailbox box{u"example.com", u"info", u"张三", u"D:\\MDaemon\\Users\\example.com\\info\\", kStored, 50, 10240};
    const auto record = BuildRecord(box);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->size(), kRecordLength);
    EXPECT_EQ(record->substr(0, 45), u"example.com" + std::u16string(34, u' '));
    EXPECT_EQ(record->substr(45, 30), u"info" + std::u16string(26, u' '));
    EXPECT_EQ(record->substr(75, 30), u"张三" + std::u16string(28, u' '));
    EXPECT_EQ(record->substr(195, 20), kStored);
    EXPECT_EQ(record->substr(215), u"NNYYYNNYNN0050010240");
    // Two characters of the name are four bytes in the file.
    EXPECT_EQ(Ansi(*record).size(), kRecordLength + 2);

    box.domain = std::u16string(45, u'd');
    box.mailbox = std::u16string(30, u'm');
    box.folder = std::u16string(90, u'f');
    box.message_max = 9999;
    box.message_disk = 999999;
    const auto full = BuildRecord(box);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->substr(0, 75), std::u16string(45, u'd') + std::u16string(30, u'm'));
    EXPECT_EQ(full->substr(215), u"NNYYYNNYNN9999999999");
}

TEST(MailRecord, ValuesThatDoNotFitAreRefused) {
    const Mailbox good{u"d", u"m", u"n", u"f", kStored, 0, 0};
    EXPECT_TRUE(BuildRecord(good));
    auto refused = [&](auto change) {
        Mailbox box = good;
        change(box);
        return !BuildRecord(box).has_value();
    };
    EXPECT_TRUE(refused([](Mailbox& b) { b.domain = std::u16string(46, u'd'); }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.mailbox = std::u16string(31, u'm'); }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.real_name = std::u16string(31, u'n'); }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.folder = std::u16string(91, u'f'); }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.message_max = 10000; }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.message_disk = 1000000; }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.message_max = -1; }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.real_name = u"a\r\nb"; }));
    EXPECT_TRUE(refused([](Mailbox& b) { b.mailbox = std::u16string(u"a\0b", 3); }));
}

TEST(MailUserList, FindsTheLastMatchCaseSensitivelyAndRewritesWithCrLf) {
    const std::string key = Ansi(LookupKey(u"example.com", u"info"));
    const std::string other = Ansi(LookupKey(u"example.com", u"Info"));
    const UserList list(key + "1\r\n" + other + "2\n" + key + "3\r\nlast");
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list.FindLast(LookupKey(u"example.com", u"info")), 2u);
    EXPECT_EQ(list.FindLast(LookupKey(u"example.com", u"Info")), 1u);
    EXPECT_FALSE(list.FindLast(LookupKey(u"example.com", u"INFO")));

    auto joined = [](const std::vector<std::string_view>& pieces) {
        std::string all;
        for (auto p : pieces) all += p;
        return all;
    };
    EXPECT_EQ(joined(list.Rewrite(UserList::Change::kRemove, 2, {})), key + "1\r\n" + other + "2\r\nlast\r\n");
    EXPECT_EQ(joined(list.Rewrite(UserList::Change::kReplace, 0, "new")),
              "new\r\n" + other + "2\r\n" + key + "3\r\nlast\r\n");
    EXPECT_EQ(joined(list.Rewrite(UserList::Change::kAppend, 0, "new")),
              key + "1\r\n" + other + "2\r\n" + key + "3\r\nlast\r\nnew\r\n");

    const UserList empty{std::string()};
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_FALSE(empty.FindLast(LookupKey(u"a", u"b")));
    EXPECT_EQ(joined(empty.Rewrite(UserList::Change::kAppend, 0, "only")), "only\r\n");
}

TEST(MailUserList, AByteMatchInsideADoubleByteCharacterIsNoMatch) {
    // "乙" is B1 41 in the code page; its second byte is "A".
    const std::u16string key = u"A" + std::u16string(74, u' ');
    const UserList list(Ansi(u"乙" + std::u16string(74, u' ')));
    EXPECT_FALSE(list.FindLast(key));
    const UserList real(Ansi(u"乙A" + std::u16string(74, u' ')));
    EXPECT_EQ(real.FindLast(key), 0u);
}

TEST(MailForm, ThePasswordIsPercentEncodedInTheCodePage) {
    EXPECT_EQ(NewAccountForm(u""),
              "View=NewUser&Finished=Yes&User=Quorvel&FullName=Quorvel&Pass=&ConfirmPass=");
    EXPECT_EQ(NewAccountForm(u"a&b=c+d%e f~"),
              "View=NewUser&Finished=Yes&User=Quorvel&FullName=Quorvel&Pass=a%26b%3Dc%2Bd%25e%20f~"
              "&ConfirmPass=a%26b%3Dc%2Bd%25e%20f~");
    EXPECT_NE(NewAccountForm(u"口令").find("Pass=%BF%DA%C1%EE&"), std::string::npos);
}

class MailDomainTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "app");
        WriteBytes(file(), "[other.com]\r\nIP=9.9.9.9\r\n");
    }
    std::filesystem::path file() const { return dir_ / "app" / "Domains.dat"; }
    std::int32_t Call(const std::u16string& action, const std::u16string& domain, const std::u16string& ip = u"1.2.3.4",
                      bool bind = true, std::int32_t inactive = 30) {
        return PostEmailDomain(action, dir_.u16(), domain, ip, bind, inactive, -5, 7, false);
    }
    test::TempDir dir_;
};

TEST_F(MailDomainTest, AddEditDeleteAndSearch) {
    LogWatch log;
    EXPECT_EQ(Call(u"add", u"example.com"), 0);
    EXPECT_EQ(ReadBytes(file()), "[other.com]\r\nIP=9.9.9.9\r\n[example.com]\r\nIP=1.2.3.4\r\nBind=Yes\r\n"
                                 "MaxInactive=30\r\nMaxMessageAge=-5\r\nMaxDeletedIMAPMessageAge=7\r\nRecurseIMAP=No\r\n");
    EXPECT_EQ(Call(u"ADD", u"EXAMPLE.COM"), 2);
    EXPECT_EQ(Call(u"IsSearch", u"example.com"), 0);
    EXPECT_EQ(Call(u"Edit", u"example.com", u"5.6.7.8", false, 0), 0);
    EXPECT_NE(ReadBytes(file()).find("IP=5.6.7.8\r\nBind=No\r\nMaxInactive=0\r\n"), std::string::npos);
    EXPECT_EQ(Call(u"del", u"example.com"), 0);
    EXPECT_EQ(ReadBytes(file()), "[other.com]\r\nIP=9.9.9.9\r\n");
    EXPECT_EQ(Call(u"ISSEARCH", u"example.com"), 3);
    EXPECT_EQ(Call(u"EDIT", u"example.com"), 3);
    EXPECT_EQ(Call(u"DEL", u"example.com"), 3);
    EXPECT_EQ(Call(u"FROB", u"nowhere.com"), 0);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：2，错误源：邮箱域名 ，错误描述：邮箱域名已经存在");
    EXPECT_EQ(MessageOf(lines[1]), "错误号：3，错误源：邮箱域名 ，错误描述：邮箱域名不存在");
    EXPECT_NE(lines[0].find("PostEmailDomain函数"), std::string::npos);
}

TEST_F(MailDomainTest, AnEmptyAddressCountsAsNoDomain) {
    EXPECT_EQ(Call(u"ADD", u"bare.com", u""), 0);
    EXPECT_EQ(Call(u"ADD", u"bare.com", u""), 0);
    EXPECT_EQ(Call(u"ISSEARCH", u"bare.com"), 3);
}

TEST_F(MailDomainTest, MissingFileAndUnsafeNamesAreRefusedAndWriteNothing) {
    const std::string before = ReadBytes(file());
    LogWatch log;
    EXPECT_EQ(Call(u"ADD", u"x]y.com"), 1);
    EXPECT_EQ(Call(u"ADD", u"x\r\ny.com"), 1);
    EXPECT_EQ(Call(u"ADD", u"x.com", u"1.2.3.4\r\n[evil]"), 1);
    EXPECT_EQ(Call(u"ADD", std::u16string(u"x\0y", 3)), 1);
    EXPECT_EQ(ReadBytes(file()), before);
    std::filesystem::remove(file());
    EXPECT_EQ(Call(u"ISSEARCH", u"example.com"), 1);
    EXPECT_FALSE(std::filesystem::exists(file()));
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：1，错误源：邮箱域名 ，错误描述：域名或IP地址含有不允许的字符");
    EXPECT_EQ(MessageOf(lines[4]), "错误号：1，错误源：Mail软件 ，错误描述：Mail软件未安装或版本错误");
}

class MailboxTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "App");
        WriteBytes(list(), "");
    }
    std::filesystem::path list() const { return dir_ / "App" / "USERLIST.DAT"; }
    std::string Record(const std::u16string& domain, const std::u16string& box, const std::u16string& name = u"",
                       std::int32_t max = 0, std::int32_t disk = 0, const std::u16string& stored = kStored) const {
        return Ansi(*BuildRecord({domain, box, name, MailboxFolder(dir_.u16(), domain, box), stored, max, disk})) +
               "\r\n";
    }
    std::int32_t Call(const std::u16string& action, const std::u16string& domain, const std::u16string& box,
                      const std::u16string& name = u"", std::int32_t max = 0, std::int32_t disk = 0) {
        return PostEmail(action, dir_.u16(), domain, box, u"127.0.0.1", name, u"secret", max, disk,
                         [this](const std::u16string& address, const std::u16string& mail_dir,
                                const std::u16string& pass) {
                             ++lookups_;
                             EXPECT_EQ(address, u"127.0.0.1");
                             EXPECT_EQ(mail_dir, dir_.u16());
                             EXPECT_EQ(pass, u"secret");
                             return answer_;
                         });
    }
    test::TempDir dir_;
    std::u16string answer_ = kStored;
    int lookups_ = 0;
};

TEST_F(MailboxTest, AddEditDeleteActOnTheLastMatch) {
    EXPECT_EQ(Call(u"add", u"example.com", u"info", u"张三", 50, 10240), 0);
    EXPECT_EQ(ReadBytes(list()), Record(u"example.com", u"info", u"张三", 50, 10240));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "App" / "UserList.sem"));
    EXPECT_EQ(Call(u"ADD", u"example.com", u"Info"), 0);
    EXPECT_EQ(Call(u"ADD", u"example.com", u"info"), 2);

    // A second line with the same key (written by someone else): EDIT and DEL take the later one.
    const std::string first = Record(u"example.com", u"info", u"张三", 50, 10240);
    const std::string second = Record(u"example.com", u"Info");
    WriteBytes(list(), first + second + Record(u"example.com", u"info", u"dup"));
    answer_ = u"NEWFORM";
    EXPECT_EQ(Call(u"Edit", u"example.com", u"info"), 0);
    EXPECT_EQ(ReadBytes(list()), first + second + Record(u"example.com", u"info", u"", 0, 0, u"NEWFORM"));
    EXPECT_EQ(Call(u"DEL", u"example.com", u"info"), 0);
    EXPECT_EQ(ReadBytes(list()), first + second);
    EXPECT_EQ(Call(u"DEL", u"example.com", u"info"), 0);
    EXPECT_EQ(ReadBytes(list()), second);
    EXPECT_EQ(Call(u"EDIT", u"example.com", u"info"), 3);
    EXPECT_EQ(lookups_, 7);
}

TEST_F(MailboxTest, FailuresWriteNothing) {
    const std::string before = Record(u"example.com", u"a");
    WriteBytes(list(), before);
    LogWatch log;
    answer_.clear();
    EXPECT_EQ(Call(u"DEL", u"example.com", u"a"), 6);
    answer_ = kStored;
    EXPECT_EQ(Call(u"ADD", std::u16string(46, u'd'), u"a"), 1);
    EXPECT_EQ(Call(u"ADD", u"example.com", u"a", u"x\ry"), 1);
    EXPECT_EQ(Call(u"EDIT", u"example.com", u"a", u"", 10000), 1);
    EXPECT_EQ(lookups_, 1);  // refused before the webmail server is asked
    EXPECT_EQ(Call(u"FROB", u"example.com", u"a"), 0);
    EXPECT_EQ(ReadBytes(list()), before);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "App" / "UserList.sem"));
    std::filesystem::remove(list());
    EXPECT_EQ(Call(u"ADD", u"example.com", u"a"), 1);
    EXPECT_EQ(lookups_, 2);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：6，错误源：Mail软件 ，错误描述：Mail软件未开启或版本错误");
    EXPECT_EQ(MessageOf(lines[1]),
              "错误号：1，错误源：邮箱，错误描述：域名、邮箱、姓名、限额超出字段宽度或含有不允许的字符");
    EXPECT_EQ(MessageOf(lines[4]), "错误号：1，错误源：Mail软件 ，错误描述：Mail软件未安装或版本错误");
    EXPECT_NE(lines[0].find("PostEmail函数"), std::string::npos);
}

TEST_F(MailboxTest, WithoutAWebmailServerBothMethodsLog) {
    std::filesystem::create_directories(dir_ / "WorldClient");
    // A port where nothing listens.
    WriteBytes(dir_ / "WorldClient" / "Domains.ini", "[Default:Settings]\r\nNewAccountCreation=Yes\r\nPort=1\r\n");
    LogWatch log;
    const std::int32_t code = PostEmail(u"ADD", dir_.u16(), u"example.com", u"a", u"127.0.0.1", u"", u"pw", 0, 0,
                                        [](const std::u16string& a, const std::u16string& d, const std::u16string& p) {
                                            return GetMailPass(a, d, p);
                                        });
    EXPECT_EQ(code, 6);
    EXPECT_EQ(ReadBytes(dir_ / "WorldClient" / "Domains.ini"),
              "[Default:Settings]\r\nNewAccountCreation=No\r\nPort=1\r\n");
    EXPECT_EQ(ReadBytes(list()), "");
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("GetMailPass函数"), std::string::npos);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：2，错误源：Mail软件 ，错误描述：Mail软件IP不存在或设置出错");
    EXPECT_EQ(MessageOf(lines[1]), "错误号：6，错误源：Mail软件 ，错误描述：Mail软件未开启或版本错误");
    // Called directly, with no log open, it logs nothing.
    LogWatch direct;
    EXPECT_EQ(GetMailPass(u"127.0.0.1", dir_.u16(), u"pw"), u"");
    EXPECT_TRUE(direct.NewLines().empty());
}

}  // namespace
}  // namespace quorvel::mail
