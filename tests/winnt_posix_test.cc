// The WinNT directory stand-in through the object layer, as the component
// and the administration verbs reach it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "automation/objects.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/utf8.h"
#include "support/computer_name.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

namespace quorvel {
namespace {

using automation::GetObject;
using automation::Object;

constexpr std::int32_t Hr(std::uint32_t value) { return static_cast<std::int32_t>(value); }

template <typename Work>
std::int32_t ErrorOf(Work&& work) {
    try {
        work();
    } catch (const StepError& error) {
        return error.number;
    }
    return 0;
}

class WinNT : public testing::Test {
protected:
    // Each case starts from a fresh machine of its own, with its accounts.
    void SetUp() override {
        test::WriteBytes(posix::MachineFolder() / "machine.ini",
                         "[Machine]\r\nComputerName=WEBHOST01\r\n[Accounts]\r\nMinPasswordLength=6\r\n");
    }
    static Object Computer() { return GetObject(u"WinNT://WEBHOST01"); }
    static Object NewUser(const std::u16string& name) {
        const Object user = Computer().Call(u"Create", {u"user", name}).AsObject();
        user.Call(u"SetInfo");
        return user;
    }
    static std::vector<std::string> Children() {
        std::vector<std::string> names;
        for (const Object& child : Computer().Children())
            names.push_back(platform::ToUtf8(child.Get(u"Name").Text() + u":" + child.Get(u"Class").Text()));
        return names;
    }
    test::FreshMachine machine_;
};

TEST_F(WinNT, AFreshMachineHasTheBuiltInAccounts) {
    EXPECT_EQ(Children(), (std::vector<std::string>{"Administrator:User", "Guest:User", "Administrators:Group",
                                                    "Users:Group", "Guests:Group"}));
    EXPECT_TRUE(GetObject(u"WinNT://webhost01/Guest,user").Get(u"AccountDisabled").Bool());
    EXPECT_FALSE(GetObject(u"WinNT://WEBHOST01/Administrator").Get(u"AccountDisabled").Bool());
    const Object admins = GetObject(u"WinNT://WEBHOST01/Administrators,group");
    EXPECT_TRUE(admins.Call(u"IsMember", {u"WinNT://WEBHOST01/Administrator"}).Bool());
    EXPECT_FALSE(admins.Call(u"IsMember", {u"WinNT://WEBHOST01/Guest"}).Bool());
}

TEST_F(WinNT, UsersKeepTheirPropertiesAndFlags) {
    const Object user = NewUser(u"alice");
    EXPECT_EQ(user.Get(u"UserFlags").Long(), 0x201);
    user.Put(u"FullName", u"爱丽丝");
    user.Call(u"Put", {u"Description", u"网站用户"});
    user.Call(u"Put", {u"userFlags", std::int32_t{0x10201}});
    user.Put(u"AccountDisabled", true);
    // Nothing reaches the directory before SetInfo.
    EXPECT_EQ(GetObject(u"WinNT://WEBHOST01/alice").Get(u"FullName").Text(), u"");
    user.Call(u"SetInfo");
    const Object again = GetObject(u"WinNT://WEBHOST01/ALICE,User");
    EXPECT_EQ(again.Get(u"Name").Text(), u"alice");
    EXPECT_EQ(again.Call(u"Get", {u"FullName"}).Text(), u"爱丽丝");
    EXPECT_EQ(again.Get(u"Description").Text(), u"网站用户");
    EXPECT_EQ(again.Call(u"Get", {u"UserFlags"}).Long(), 0x10203);
    EXPECT_TRUE(again.Get(u"AccountDisabled").Bool());
    EXPECT_EQ(Computer().Call(u"GetObject", {u"USER", u"Alice"}).AsObject().Get(u"ADsPath").Text(),
              u"WinNT://WEBHOST01/alice");
}

TEST_F(WinNT, FailuresCarryTheDirectorysErrors) {
    NewUser(u"bob");
    EXPECT_EQ(ErrorOf([] { Computer().Call(u"GetObject", {u"user", u"nobody"}); }), Hr(0x800708AD));
    EXPECT_EQ(ErrorOf([] { Computer().Call(u"GetObject", {u"group", u"bob"}); }), Hr(0x800708AC));
    EXPECT_EQ(ErrorOf([] { GetObject(u"WinNT://WEBHOST01/bob,group"); }), Hr(0x800708AC));
    EXPECT_EQ(ErrorOf([] { GetObject(u"WinNT://OTHERHOST"); }), Hr(0x80070035));
    EXPECT_EQ(ErrorOf([] { NewUser(u"BOB"); }), Hr(0x800708B0));
    EXPECT_EQ(ErrorOf([] { NewUser(u"Users"); }), Hr(0x800708B0));
    const Object users = GetObject(u"WinNT://WEBHOST01/Users,group");
    users.Call(u"Add", {u"WinNT://WEBHOST01/bob"});
    EXPECT_EQ(ErrorOf([&] { users.Call(u"Add", {u"WinNT://WEBHOST01/bob"}); }), Hr(0x80070562));
    users.Call(u"Remove", {u"WinNT://WEBHOST01/bob"});
    EXPECT_EQ(ErrorOf([&] { users.Call(u"Remove", {u"WinNT://WEBHOST01/bob"}); }), Hr(0x80070561));
    EXPECT_EQ(ErrorOf([&] { users.Call(u"Add", {u"WinNT://WEBHOST01/nobody"}); }), Hr(0x80070525));
}

TEST_F(WinNT, NamesWithForbiddenCharactersCreateNothing) {
    const std::u16string forbidden[] = {u"a\"b", u"a/b", u"a\\b", u"a[b", u"a]b", u"a:b", u"a;b", u"a|b", u"a=b",
                                        u"a,b", u"a+b", u"a*b", u"a?b", u"a<b", u"a>b", u"a\tb", u"",
                                        u"twenty-one-characters"};
    for (const std::u16string& name : forbidden) {
        EXPECT_EQ(ErrorOf([&] { NewUser(name); }), Hr(0x8007089A)) << platform::ToUtf8(name);
        EXPECT_EQ(ErrorOf([&] { Computer().Call(u"Create", {u"group", name}); }), Hr(0x8007089A));
    }
    EXPECT_EQ(Children().size(), 5u);
    NewUser(u"张三");  // other characters are names like any
    EXPECT_EQ(Children().size(), 6u);
}

TEST_F(WinNT, PasswordsAreCheckedAndNeverKeptInClearText) {
    const Object user = NewUser(u"carol");
    EXPECT_EQ(ErrorOf([&] { user.Call(u"SetPassword", {u"short"}); }), Hr(0x800708C5));
    user.Call(u"SetPassword", {u"Sesame-1234"});
    EXPECT_EQ(ErrorOf([&] { user.Call(u"ChangePassword", {u"wrong-one", u"Other-5678"}); }), Hr(0x80070056));
    EXPECT_EQ(ErrorOf([&] { user.Call(u"ChangePassword", {u"Sesame-1234", u"abc"}); }), Hr(0x800708C5));
    user.Call(u"ChangePassword", {u"Sesame-1234", u"Other-5678"});
    // A later SetInfo of cached properties keeps the new password.
    user.Put(u"FullName", u"Carol");
    user.Call(u"SetInfo");
    EXPECT_EQ(ErrorOf([&] { user.Call(u"ChangePassword", {u"Sesame-1234", u"Third-9012"}); }), Hr(0x80070056));
    user.Call(u"ChangePassword", {u"Other-5678", u"Third-9012"});
    for (const auto& entry : std::filesystem::recursive_directory_iterator(posix::MachineFolder())) {
        if (!entry.is_regular_file()) continue;
        const std::string bytes = test::ReadBytes(entry.path());
        for (const char* password : {"Sesame-1234", "Other-5678", "Third-9012"})
            EXPECT_EQ(bytes.find(password), std::string::npos) << entry.path();
    }
}

TEST_F(WinNT, DeletingAUserEndsItsMemberships) {
    NewUser(u"dave");
    const Object users = GetObject(u"WinNT://WEBHOST01/Users,group");
    users.Call(u"Add", {u"WinNT://WEBHOST01/dave,user"});
    EXPECT_TRUE(users.Call(u"IsMember", {u"WinNT://WEBHOST01/DAVE"}).Bool());
    Computer().Call(u"Delete", {u"user", u"dave"});
    EXPECT_EQ(ErrorOf([] { GetObject(u"WinNT://WEBHOST01/dave"); }), Hr(0x800708AD));
    NewUser(u"dave");
    EXPECT_FALSE(users.Call(u"IsMember", {u"WinNT://WEBHOST01/dave"}).Bool());
    EXPECT_EQ(ErrorOf([] { Computer().Call(u"Delete", {u"user", u"dave2"}); }), Hr(0x800708AD));
}

// A group made and not yet stored, or deleted after it was bound, takes no
// member: the membership would pass to the next group of that name.
TEST_F(WinNT, AGroupThatIsNotThereTakesNoMember) {
    NewUser(u"erin");
    const Object unsaved = Computer().Call(u"Create", {u"group", u"Staff"}).AsObject();
    EXPECT_EQ(ErrorOf([&] { unsaved.Call(u"Add", {u"WinNT://WEBHOST01/erin"}); }), Hr(0x800708AC));
    unsaved.Call(u"SetInfo");
    const Object bound = GetObject(u"WinNT://WEBHOST01/Staff,group");
    Computer().Call(u"Delete", {u"group", u"Staff"});
    EXPECT_EQ(ErrorOf([&] { bound.Call(u"Add", {u"WinNT://WEBHOST01/erin"}); }), Hr(0x800708AC));
    EXPECT_EQ(ErrorOf([&] { bound.Call(u"Remove", {u"WinNT://WEBHOST01/erin"}); }), Hr(0x800708AC));
    Computer().Call(u"Create", {u"group", u"Staff"}).AsObject().Call(u"SetInfo");
    EXPECT_FALSE(GetObject(u"WinNT://WEBHOST01/Staff,group").Call(u"IsMember", {u"WinNT://WEBHOST01/erin"}).Bool());
}

}  // namespace
}  // namespace quorvel
