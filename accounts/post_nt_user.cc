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
//
// Every call holds the method's lock on this machine (component/frame/intent.h) from
// its lookups to its last step, so that what it does to an account is done
// to the account it looked up or created: of two ADDUSERs of one name, the
// second finds the first's account and answers 2 without a step of its own.
//
// ADDUSER and EDITUSER commit several times, so each keeps an intent record
// while it works, and every call first repairs what one that died left. An
// ADDUSER is undone: its account is deleted, since finishing it would need
// the password, which a record never holds (an account left without its
// password, or outside its group, would also block the next ADDUSER of the
// name). An EDITUSER that had passed its password step gets its names and
// flags with its own values; one that had not had changed nothing.
#include "accounts/post_nt_user.h"

#include "automation/objects.h"
#include "base/ascii.h"
#include "component/frame/frame.h"
#include "component/frame/intent.h"
#include "support/computer_name.h"
#include "support/strings.h"

namespace quorvel::accounts {
namespace {

using automation::Object;

constexpr char16_t kUserExists[] = u"，错误源：Windows用户 ，错误描述：用户已经存在";
constexpr char16_t kNoSuchUser[] = u"，错误源：Windows用户 ，错误描述：用户不存在";
constexpr char16_t kNoSuchUserOrGroup[] = u"，错误源：Windows用户 ，错误描述：用户或组不存在";
constexpr char16_t kUnsafeInput[] = u"，错误源：Windows用户 ，错误描述：用户名、全名、密码或组名含有不允许的字符";
constexpr char16_t kRepairRemoved[] = u"，错误源：Windows用户 ，错误描述：已删除中断调用遗留的用户";
constexpr char16_t kRepairCompleted[] = u"，错误源：Windows用户 ，错误描述：已完成中断调用对用户的更改";
constexpr char16_t kRepairNothing[] = u"，错误源：Windows用户 ，错误描述：中断调用未更改用户";

// The phases of EDITUSER's record: before its password step, and after it.
constexpr char16_t kBeforePassword[] = u"Password";
constexpr char16_t kAfterPassword[] = u"Account";

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
// `after_password` runs right after the password step, whether it failed or not.
template <typename AfterPassword>
void WriteAccount(CallFrame& frame, const Object& user, const std::u16string& full_name,
                  const std::u16string& password, AfterPassword&& after_password) {
    frame.Step([&] { user.Call(u"SetPassword", {password}); }, after_password);
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

// Whether the account exists; the directory's error when it cannot tell.
bool AccountExists(const Object& container, const std::u16string& name) {
    constexpr std::uint32_t kUserNotFound = 0x800708ADu;  // NERR_UserNotFound
    try {
        container.Call(u"GetObject", {u"user", name});
        return true;
    } catch (const StepError& error) {
        if (static_cast<std::uint32_t>(error.number) != kUserNotFound) throw;
        return false;
    }
}

// What an ADDUSER or EDITUSER that died left, put right; nullopt when the
// directory cannot be asked.
std::optional<std::u16string> RepairAccount(CallFrame& frame, const std::u16string& computer,
                                            const IntentRecord& record) {
    const std::u16string action = record.Text("Action");
    const std::u16string name = record.Text("UserName");
    if (action != u"ADDUSER" && (action != u"EDITUSER" || record.Text("Phase") != kAfterPassword))
        return kRepairNothing;
    const int failures = frame.failures();
    Object container;
    bool exists = false;
    frame.Step([&] {
        container = automation::GetObject(u"WinNT://" + computer);
        exists = AccountExists(container, name);
    });
    if (frame.failures() != failures) return std::nullopt;
    if (!exists) return kRepairNothing;
    if (action == u"ADDUSER") {
        frame.Step([&] { container.Call(u"Delete", {u"user", name}); });
        if (frame.failures() != failures) return std::nullopt;
        return kRepairRemoved;
    }
    // The rest of EDITUSER, with the flags it was writing.
    DeadCallsSteps(frame, [&] {
        Object user = Step(frame, container, u"GetObject", u"user", name);
        const std::u16string full_name = record.Text("FullName");
        frame.Step([&] { user.Put(u"FullName", full_name); });
        frame.Step([&] { user.Put(u"Description", full_name); });
        if (const auto flags = record.Number("UserFlags"))
            frame.Step([&] { user.Call(u"Put", {u"userFlags", *flags}); });
        frame.Step([&] { user.Put(u"AccountDisabled", false); });
        frame.Step([&] { user.Call(u"SetInfo"); });
    });
    return kRepairCompleted;
}

// EDITUSER's record: the flags it will write are those it finds with both
// bits toggled (nothing when they cannot be read).
IntentRecord EditRecord(const Object& user, const std::u16string& name, const std::u16string& full_name) {
    IntentRecord record;
    record.Set("Action", u"EDITUSER").Set("UserName", name).Set("FullName", full_name);
    try {
        record.Set("UserFlags", user.Call(u"Get", {u"UserFlags"}).Long() ^ kDontExpirePassword ^ kCannotChangePassword);
    } catch (const StepError&) {
    }
    record.Set("Phase", kBeforePassword);
    return record;
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

        MethodIntent intent("PostNTUser");
        if (!TakeLock(frame, intent)) return frame.Finish();
        if (!RepairLeftover(frame, intent,
                            [&](const IntentRecord& left) { return RepairAccount(frame, computer, left); }))
            return frame.Finish();

        const std::u16string action = base::ToUpperAscii(Action);
        if (!ValuesFitCodePage(action, FullName, UserName, PassWord, Groups))
            return frame.Detected(kPreconditionFailed, kUnsafeInput);

        Object container;
        frame.Step([&] { container = automation::GetObject(u"WinNT://" + computer); });
        const bool user_found = Lookup(frame, container, u"user", UserName);
        const bool group_found = Lookup(frame, container, u"Group", Groups);
        const std::u16string member = u"WinNT://" + computer + u"/" + UserName;

        if (action == u"ADDUSER") {
            if (user_found) return frame.Detected(kAlreadyExists, kUserExists);
            IntentRecord record;
            record.Set("Action", action).Set("UserName", UserName);
            if (!BeginIntent(frame, intent, record)) return frame.Finish();
            Object user = Step(frame, container, u"Create", u"user", UserName);
            frame.Step([&] { user.Call(u"SetInfo"); });
            WriteAccount(frame, user, FullName, PassWord, [] {});
            user.Release();
            if (group_found) ChangeMembership(frame, container, Groups, u"Add", member);
            EndIntent(frame, intent);
        } else if (action == u"EDITUSER") {
            if (!user_found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            Object user = Step(frame, container, u"GetObject", u"user", UserName);
            IntentRecord record = EditRecord(user, UserName, FullName);
            if (!BeginIntent(frame, intent, record)) return frame.Finish();
            WriteAccount(frame, user, FullName, PassWord,
                         [&] { intent.Write(record.Set("Phase", kAfterPassword)); });
            EndIntent(frame, intent);
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
