// PostNTUser: one account action on the computer container of the WinNT
// provider. Every directory call is a step: a failure becomes the pending
// error and the next step still runs; the lookups before the action and the
// deletion discard theirs.
//
// The directory takes Unicode, but an account lives on in the server's ANSI
// world: its name in the ACL tool's command lines, its name and password in
// the logons of ANSI programs. A value an action hands on (the account name
// for every action; full name and password for ADDUSER and EDITUSER; the
// group for ADDUSER and the two group actions) that holds a character the
// code page cannot hold would be met there as '?': the call is refused with
// result 1 before the directory is touched.
#include "accounts/post_nt_user.h"

#include "component/frame.h"
#include "platform/objects.h"
#include "support/computer_name.h"
#include "support/strings.h"

namespace quorvel::accounts {
namespace {

using platform::Object;

constexpr char16_t kUserExists[] = u"，错误源：Windows用户 ，错误描述：用户已经存在";
constexpr char16_t kNoSuchUser[] = u"，错误源：Windows用户 ，错误描述：用户不存在";
constexpr char16_t kNoSuchUserOrGroup[] = u"，错误源：Windows用户 ，错误描述：用户或组不存在";
constexpr char16_t kUnsafeInput[] = u"，错误源：Windows用户 ，错误描述：用户名、全名、密码或组名含有不允许的字符";

constexpr std::int32_t kDontExpirePassword = 0x10000;
constexpr std::int32_t kCannotChangePassword = 0x40;

// Whether the values the action hands on all have a form in the code page.
bool ValuesFitCodePage(const std::u16string& action, const std::u16string& full_name,
                       const std::u16string& user_name, const std::u16string& password, const std::u16string& group) {
    const bool writes_account = action == u"ADDUSER" || action == u"EDITUSER";
    const bool names_group = action == u"ADDUSER" || action == u"ADDUSERTOGROUP" || action == u"DELUSERTOGROUP";
    const bool names_user = writes_account || names_group || action == u"DELUSER" || action == u"STOPUSER" ||
                            action == u"STARTUSER";
    return (!names_user || FitsCodePage(user_name)) &&
           (!writes_account || (FitsCodePage(full_name) && FitsCodePage(password))) &&
           (!names_group || FitsCodePage(group));
}

// Whether the container has the child; the object is released at once.
bool Lookup(CallFrame& frame, const Object& container, const char16_t* cls, const std::u16string& name) {
    frame.Step([&] { container.Call(u"GetObject", {cls, name}); });
    const bool found = !frame.has_pending_error();
    frame.ClearError();
    return found;
}

Object Step(CallFrame& frame, const Object& container, const char16_t* method, const char16_t* cls,
            const std::u16string& name) {
    Object object;
    frame.Step([&] { object = container.Call(method, {cls, name}).AsObject(); });
    return object;
}

// Password, names, the two flag bits toggled, enabled, committed.
void WriteAccount(CallFrame& frame, const Object& user, const std::u16string& full_name,
                  const std::u16string& password) {
    frame.Step([&] { user.Call(u"SetPassword", {password}); });
    frame.Step([&] { user.Put(u"FullName", full_name); });
    frame.Step([&] { user.Put(u"Description", full_name); });
    std::int32_t flags = 0;
    for (const std::int32_t bit : {kDontExpirePassword, kCannotChangePassword}) {
        frame.Step([&] { flags = user.Call(u"Get", {u"UserFlags"}).Long(); });
        frame.Step([&] { user.Call(u"Put", {u"userFlags", flags ^ bit}); });
    }
    frame.Step([&] { user.Put(u"AccountDisabled", false); });
    frame.Step([&] { user.Call(u"SetInfo"); });
}

void SetDisabled(CallFrame& frame, const Object& container, const std::u16string& name, bool disabled) {
    Object user = Step(frame, container, u"GetObject", u"user", name);
    frame.Step([&] { user.Put(u"AccountDisabled", disabled); });
    frame.Step([&] { user.Call(u"SetInfo"); });
}

void ChangeMembership(CallFrame& frame, const Object& container, const std::u16string& group_name,
                      const char16_t* method, const std::u16string& member) {
    Object group = Step(frame, container, u"GetObject", u"Group", group_name);
    frame.Step([&] { group.Call(method, {member}); });
    frame.Step([&] { group.Call(u"SetInfo"); });
}

}  // namespace

std::int32_t PostNTUser(std::u16string Action, std::u16string FullName, std::u16string UserName,
                        std::u16string PassWord, std::u16string Groups) {
    CallFrame frame(u"PostNTUser", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        const std::u16string computer = GetLocalComputerName();
        if (computer == kUnknownComputerName) return frame.Detected(kPreconditionFailed, kNoComputerNameText);
        const std::u16string action = UpperAscii(Action);
        if (!ValuesFitCodePage(action, FullName, UserName, PassWord, Groups))
            return frame.Detected(kPreconditionFailed, kUnsafeInput);

        Object container;
        frame.Step([&] { container = platform::GetObject(u"WinNT://" + computer); });
        const bool user_found = Lookup(frame, container, u"user", UserName);
        const bool group_found = Lookup(frame, container, u"Group", Groups);
        const std::u16string member = u"WinNT://" + computer + u"/" + UserName;

        if (action == u"ADDUSER") {
            if (user_found) return frame.Detected(kAlreadyExists, kUserExists);
            Object user = Step(frame, container, u"Create", u"user", UserName);
            frame.Step([&] { user.Call(u"SetInfo"); });
            WriteAccount(frame, user, FullName, PassWord);
            user.Release();
            if (group_found) ChangeMembership(frame, container, Groups, u"Add", member);
        } else if (action == u"EDITUSER") {
            if (!user_found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            Object user = Step(frame, container, u"GetObject", u"user", UserName);
            WriteAccount(frame, user, FullName, PassWord);
        } else if (action == u"DELUSER") {
            if (!user_found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            frame.Step([&] { container.Call(u"Delete", {u"user", UserName}); });
            frame.ClearError();
        } else if (action == u"STOPUSER" || action == u"STARTUSER") {
            if (!user_found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            SetDisabled(frame, container, UserName, action == u"STOPUSER");
        } else if (action == u"ADDUSERTOGROUP" || action == u"DELUSERTOGROUP") {
            if (!group_found || !user_found) return frame.Detected(kDoesNotExist, kNoSuchUserOrGroup);
            ChangeMembership(frame, container, Groups, action == u"ADDUSERTOGROUP" ? u"Add" : u"Remove", member);
        }
        container.Release();
        return frame.Finish();
    });
}

}  // namespace quorvel::accounts
