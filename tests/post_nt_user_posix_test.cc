// PostNTUser against the WinNT stand-in of a test machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "accounts/post_nt_user.h"
#include "automation/objects.h"
#include "platform/posix/runtime/machine_folder.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

namespace quorvel::accounts {
namespace {

using automation::GetObject;
using automation::Object;
using test::LogWatch;
using test::MessageOf;

constexpr char kUserExists[] = "错误号：2，错误源：Windows用户 ，错误描述：用户已经存在";
constexpr char kNoSuchUser[] = "错误号：3，错误源：Windows用户 ，错误描述：用户不存在";
constexpr char kNoSuchUserOrGroup[] = "错误号：3，错误源：Windows用户 ，错误描述：用户或组不存在";

// Each case on a fresh machine of its own: the settings it changes stay its own.
class PostNTUserTest : public testing::Test {
protected:
    void SetUp() override { Machine("ComputerName=WEBHOST01\r\n", "MinPasswordLength=6\r\n"); }
    static void Machine(const std::string& machine, const std::string& accounts) {
        test::WriteBytes(posix::MachineFolder() / "machine.ini",
                         "[Machine]\r\n" + machine + "[Accounts]\r\n" + accounts);
    }
    static Object User(const std::u16string& name) { return GetObject(u"WinNT://WEBHOST01/" + name + u",user"); }
    static std::int32_t Flags(const std::u16string& name) { return User(name).Get(u"UserFlags").Long(); }
    static bool Member(const std::u16string& group, const std::u16string& user) {
        return GetObject(u"WinNT://WEBHOST01/" + group + u",group")
            .Call(u"IsMember", {u"WinNT://WEBHOST01/" + user})
            .Bool();
    }
    static bool Exists(const std::u16string& name) {
        try {
            User(name);
            return true;
        } catch (const StepError&) {
            return false;
        }
    }
    // The single line a call logged, after its date, time and label.
    static std::string OneLine(const LogWatch& log) {
        const auto lines = log.NewLines();
        if (lines.size() != 1) return "<" + std::to_string(lines.size()) + " lines>";
        return lines[0].find("PostNTUser函数") == std::string::npos ? "<no label>" : MessageOf(lines[0]);
    }
    test::FreshMachine machine_;
};

TEST_F(PostNTUserTest, AddUserCreatesTheAccountAndItsMembership) {
    LogWatch log;
    EXPECT_EQ(PostNTUser(u"adduser", u"张三", u"zhang", u"Secret-1", u"Users"), 0);
    EXPECT_TRUE(log.NewLines().empty());
    const Object user = User(u"zhang");
    EXPECT_EQ(user.Get(u"FullName").Text(), u"张三");
    EXPECT_EQ(user.Get(u"Description").Text(), u"张三");
    EXPECT_EQ(user.Get(u"UserFlags").Long(), 0x201 ^ 0x10000 ^ 0x40);
    EXPECT_FALSE(user.Get(u"AccountDisabled").Bool());
    EXPECT_TRUE(Member(u"Users", u"zhang"));

    LogWatch again;
    EXPECT_EQ(PostNTUser(u"ADDUSER", u"other", u"ZHANG", u"Other-22", u"Guests"), 2);
    EXPECT_EQ(OneLine(again), kUserExists);
    EXPECT_EQ(User(u"zhang").Get(u"FullName").Text(), u"张三");
    EXPECT_FALSE(Member(u"Guests", u"zhang"));
}

TEST_F(PostNTUserTest, AGroupThatDoesNotExistIsSkipped) {
    EXPECT_EQ(PostNTUser(u"ADDUSER", u"Li", u"li", u"Secret-1", u"NoSuchGroup"), 0);
    EXPECT_TRUE(Exists(u"li"));
    EXPECT_EQ(PostNTUser(u"ADDUSER", u"Wu", u"wu", u"Secret-1", u""), 0);
    EXPECT_TRUE(Exists(u"wu"));
}

TEST_F(PostNTUserTest, ARejectedPasswordLeavesTheAccountAndLaterStepsRun) {
    LogWatch log;
    EXPECT_EQ(PostNTUser(u"ADDUSER", u"Short", u"short", u"abc", u"Users"), 4);
    EXPECT_EQ(OneLine(log), "错误号：-2147022651，错误源：Quorvel，错误描述：密码不满足密码策略的要求。");
    const Object user = User(u"short");
    EXPECT_EQ(user.Get(u"FullName").Text(), u"Short");
    EXPECT_EQ(user.Get(u"UserFlags").Long(), 0x10241);
    EXPECT_TRUE(Member(u"Users", u"short"));
}

TEST_F(PostNTUserTest, EditUserTogglesTheFlagsAndEnables) {
    ASSERT_EQ(PostNTUser(u"ADDUSER", u"A", u"amy", u"Secret-1", u""), 0);
    ASSERT_EQ(PostNTUser(u"STOPUSER", u"", u"amy", u"", u""), 0);
    EXPECT_TRUE(User(u"amy").Get(u"AccountDisabled").Bool());
    EXPECT_EQ(PostNTUser(u"EditUser", u"Amy Lee", u"amy", u"Secret-2", u""), 0);
    EXPECT_EQ(Flags(u"amy"), 0x201);  // both bits were set: cleared again
    EXPECT_FALSE(User(u"amy").Get(u"AccountDisabled").Bool());
    EXPECT_EQ(User(u"amy").Get(u"Description").Text(), u"Amy Lee");
    EXPECT_EQ(PostNTUser(u"EDITUSER", u"Amy", u"amy", u"Secret-3", u""), 0);
    EXPECT_EQ(Flags(u"amy"), 0x10241);
    ASSERT_EQ(PostNTUser(u"STARTUSER", u"", u"amy", u"", u""), 0);
    // The new password is the one that counts.
    EXPECT_NO_THROW(User(u"amy").Call(u"ChangePassword", {u"Secret-3", u"Secret-4"}));
}

TEST_F(PostNTUserTest, MissingAccountsAndGroups) {
    ASSERT_EQ(PostNTUser(u"ADDUSER", u"B", u"ben", u"Secret-1", u""), 0);
    for (const char16_t* action : {u"EDITUSER", u"DELUSER", u"STOPUSER", u"STARTUSER"}) {
        LogWatch log;
        EXPECT_EQ(PostNTUser(action, u"", u"nobody", u"Secret-1", u"Users"), 3);
        EXPECT_EQ(OneLine(log), kNoSuchUser);
    }
    for (const char16_t* action : {u"ADDUSERTOGROUP", u"DELUSERTOGROUP"}) {
        LogWatch log;
        EXPECT_EQ(PostNTUser(action, u"", u"nobody", u"", u"Users"), 3);
        EXPECT_EQ(OneLine(log), kNoSuchUserOrGroup);
        EXPECT_EQ(PostNTUser(action, u"", u"ben", u"", u"Users,Guests"), 3);
    }
}

TEST_F(PostNTUserTest, MembershipChangesAndTheirFailures) {
    ASSERT_EQ(PostNTUser(u"ADDUSER", u"C", u"cat", u"Secret-1", u""), 0);
    EXPECT_EQ(PostNTUser(u"AddUserToGroup", u"", u"cat", u"", u"Guests"), 0);
    EXPECT_TRUE(Member(u"Guests", u"cat"));
    LogWatch log;
    EXPECT_EQ(PostNTUser(u"ADDUSERTOGROUP", u"", u"cat", u"", u"guests"), 4);
    EXPECT_EQ(OneLine(log), "错误号：-2147023518，错误源：Quorvel，错误描述：指定的帐户名已是本地组的成员。");
    EXPECT_EQ(PostNTUser(u"EDITUSERTOGROUP", u"", u"cat", u"", u"Guests"), 0);
    EXPECT_EQ(PostNTUser(u"DELUSERTOGROUP", u"", u"cat", u"", u"Guests"), 0);
    EXPECT_FALSE(Member(u"Guests", u"cat"));
    EXPECT_EQ(PostNTUser(u"DELUSERTOGROUP", u"", u"cat", u"", u"Guests"), 4);
    EXPECT_EQ(PostNTUser(u"DELUSER", u"", u"cat", u"", u""), 0);
    EXPECT_FALSE(Exists(u"cat"));
}

TEST_F(PostNTUserTest, OtherWordsDoNothingAndAMissingComputerNameIsOne) {
    EXPECT_EQ(PostNTUser(u" ADDUSER", u"", u"dan", u"Secret-1", u""), 0);
    EXPECT_EQ(PostNTUser(u"LIST", u"", u"dan", u"Secret-1", u""), 0);
    EXPECT_FALSE(Exists(u"dan"));
    Machine("ComputerName=\r\n", "");
    LogWatch log;
    EXPECT_EQ(PostNTUser(u"ADDUSER", u"", u"dan", u"Secret-1", u""), 1);
    EXPECT_EQ(OneLine(log), "错误号：1，错误源：计算机 ，错误描述：不能取得计算机名");
}

}  // namespace
}  // namespace quorvel::accounts
