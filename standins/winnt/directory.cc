// The objects of the WinNT provider over the machine's account store. A
// user's or group's properties are read into the object when it is bound and
// written back at SetInfo; SetPassword, ChangePassword and the membership
// methods act at once, as the provider does.
#include "standins/winnt/directory.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/password.h"
#include "platform/system.h"
#include "platform/text.h"
#include "standin_members.h"
#include "standins/winnt/accounts.h"

namespace quorvel::winnt {
namespace {

using automation::Arguments;
using automation::ComPtr;
using automation::Value;
using automation::Variant;
namespace idl = standins::idl;

constexpr std::u16string_view kScheme = u"WinNT://";

[[noreturn]] void Fail(std::uint32_t code) { automation::RaiseHresult(static_cast<HRESULT>(code)); }

// Store failures reach the client as the directory's HRESULTs.
template <typename Work>
auto Directory(Work&& work) {
    try {
        return work();
    } catch (const DirectoryError& error) {
        Fail(error.code());
    }
}

std::u16string ComputerName() {
    std::string name;
    if (!platform::GetComputerName(name)) return {};
    return platform::FromAnsi(name);
}

bool IsThisComputer(std::u16string_view name) {
    const std::u16string folded = FoldName(name);
    return folded == u"LOCALHOST" || (!folded.empty() && folded == FoldName(ComputerName()));
}

bool SameText(std::u16string_view a, std::u16string_view b) { return FoldName(a) == FoldName(b); }

void CheckPasswordPolicy(const std::u16string& password) {
    if (static_cast<std::int64_t>(password.size()) < MinPasswordLength()) Fail(kPasswordTooShort);
}

std::string NewHash(const std::u16string& password) {
    const auto hash = platform::HashPassword(password);
    if (!hash) Fail(kStoreFailure);
    return *hash;
}

// A user or a group: the account as last read or written, and whether the
// store holds it yet (an object made by Create is stored at its first SetInfo).
class AccountObject {
public:
    Value Name(const Arguments&) { return Value(account_.name); }
    Value ADsPath(const Arguments&) { return Value(std::u16string(kScheme) + computer_ + u"/" + account_.name); }
    Value Parent(const Arguments&) { return Value(std::u16string(kScheme) + computer_); }
    Value GetDescription(const Arguments&) { return Value(account_.description); }
    void PutDescription(const Variant& value) { account_.description = value.Text(); }

    Value SetInfo(const Arguments&) {
        Directory([&] {
            auto store = OpenMachineAccounts();
            if (stored_) {
                // The password is not a cached property: keep the stored one.
                if (const auto current = store->Find(account_.name)) account_.password_hash = current->password_hash;
                store->Update(account_);
            } else {
                store->Create(account_);
                stored_ = true;
            }
        });
        return Value();
    }

    Value GetInfo(const Arguments&) {
        if (!stored_) return Value();
        const auto current = Directory([&] { return OpenMachineAccounts()->Find(account_.name); });
        if (!current || current->group != account_.group) Fail(account_.group ? kGroupNotFound : kUserNotFound);
        account_ = *current;
        return Value();
    }

protected:
    AccountObject(std::u16string computer, Account account, bool stored)
        : computer_(std::move(computer)), account_(std::move(account)), stored_(stored) {}

    std::u16string computer_;
    Account account_;
    bool stored_;
};

class User final : public automation::AutomationObject<User, idl::IWinNTUser>, public AccountObject {
public:
    User(std::u16string computer, Account account, bool stored)
        : AccountObject(std::move(computer), std::move(account), stored) {}

    Value Class(const Arguments&) { return Value(u"User"); }
    Value GetFullName(const Arguments&) { return Value(account_.full_name); }
    void PutFullName(const Variant& value) { account_.full_name = value.Text(); }
    Value GetUserFlags(const Arguments&) { return Value(account_.flags); }
    void PutUserFlags(const Variant& value) { account_.flags = value.Long(); }
    Value GetAccountDisabled(const Arguments&) { return Value((account_.flags & kUfAccountDisable) != 0); }
    void PutAccountDisabled(const Variant& value) {
        account_.flags = value.Bool() ? (account_.flags | kUfAccountDisable) : (account_.flags & ~kUfAccountDisable);
    }

    Value Get(const Arguments& args) {
        const std::u16string name = FoldName(args.Text(0));
        if (name == u"FULLNAME") return GetFullName(args);
        if (name == u"DESCRIPTION") return GetDescription(args);
        if (name == u"USERFLAGS") return GetUserFlags(args);
        if (name == u"NAME") return Name(args);
        Fail(kPropertyNotFound);
    }

    Value Put(const Arguments& args) {
        const std::u16string name = FoldName(args.Text(0));
        if (name == u"FULLNAME") {
            PutFullName(args[1]);
        } else if (name == u"DESCRIPTION") {
            PutDescription(args[1]);
        } else if (name == u"USERFLAGS") {
            PutUserFlags(args[1]);
        } else {
            Fail(kPropertyNotFound);
        }
        return Value();
    }

    Value SetPassword(const Arguments& args) {
        const std::u16string password = args.Text(0);
        CheckPasswordPolicy(password);
        StorePassword(NewHash(password));
        return Value();
    }

    Value ChangePassword(const Arguments& args) {
        const std::u16string old_password = args.Text(0);
        const std::u16string new_password = args.Text(1);
        std::string stored = account_.password_hash;
        if (stored_) {
            const auto current = Directory([&] { return OpenMachineAccounts()->Find(account_.name); });
            if (!current) Fail(kUserNotFound);
            stored = current->password_hash;
        }
        const bool matches = stored.empty() ? old_password.empty() : platform::PasswordMatches(old_password, stored);
        if (!matches) Fail(kInvalidPassword);
        CheckPasswordPolicy(new_password);
        StorePassword(NewHash(new_password));
        return Value();
    }

private:
    // At once for a stored account; with the first SetInfo for a new one.
    void StorePassword(std::string hash) {
        account_.password_hash = std::move(hash);
        if (!stored_) return;
        Directory([&] {
            auto store = OpenMachineAccounts();
            auto current = store->Find(account_.name);
            if (!current) throw DirectoryError(kUserNotFound);
            current->password_hash = account_.password_hash;
            store->Update(*current);
        });
    }
};

// The name a member path gives: "WinNT://NAME/alice" or ".../alice,user".
std::u16string PathName(const std::u16string& path) {
    if (path.size() <= kScheme.size() || !SameText(std::u16string_view(path).substr(0, kScheme.size()), kScheme))
        Fail(kNoSuchUser);
    std::u16string rest = path.substr(kScheme.size());
    const size_t slash = rest.find(u'/');
    if (slash == std::u16string::npos || !IsThisComputer(std::u16string_view(rest).substr(0, slash)))
        Fail(kNoSuchUser);
    std::u16string name = rest.substr(slash + 1);
    if (const size_t comma = name.find(u','); comma != std::u16string::npos) {
        if (!SameText(std::u16string_view(name).substr(comma + 1), u"user")) Fail(kNoSuchUser);
        name.resize(comma);
    }
    return name;
}

// The user a member path names.
std::u16string MemberName(const std::u16string& path) {
    const std::u16string name = PathName(path);
    const auto account = Directory([&] { return OpenMachineAccounts()->Find(name); });
    if (!account || account->group) Fail(kNoSuchUser);
    return account->name;
}

class MemberList final : public automation::AutomationObject<MemberList, idl::IWinNTMembers> {
public:
    explicit MemberList(std::vector<Variant> members) : members_(std::move(members)) {}
    Value NewEnum(const Arguments&) { return automation::NewEnum(members_); }

private:
    std::vector<Variant> members_;
};

Variant ObjectOf(const std::u16string& computer, const Account& account, bool stored);

class Group final : public automation::AutomationObject<Group, idl::IWinNTGroup>, public AccountObject {
public:
    Group(std::u16string computer, Account account, bool stored)
        : AccountObject(std::move(computer), std::move(account), stored) {}

    Value Class(const Arguments&) { return Value(u"Group"); }

    Value Add(const Arguments& args) {
        const std::u16string user = MemberName(args.Text(0));
        Directory([&] { OpenMachineAccounts()->AddMember(account_.name, user); });
        return Value();
    }

    // Also a membership whose account is gone, as the provider removes one
    // by its SID.
    Value Remove(const Arguments& args) {
        const std::u16string name = PathName(args.Text(0));
        const auto account = Directory([&] { return OpenMachineAccounts()->Find(name); });
        if (account && account->group) Fail(kNoSuchUser);
        Directory([&] { OpenMachineAccounts()->RemoveMember(account_.name, account ? account->name : name); });
        return Value();
    }

    Value Members(const Arguments&) {
        const auto [names, accounts] = Directory([&] {
            auto store = OpenMachineAccounts();
            return std::pair(store->Members(account_.name), store->List());
        });
        std::vector<Variant> members;
        for (const std::u16string& name : names) {
            const auto account = std::find_if(accounts.begin(), accounts.end(),
                                              [&](const Account& a) { return !a.group && SameText(a.name, name); });
            if (account != accounts.end()) {
                members.push_back(ObjectOf(computer_, *account, true));
            } else {
                Account gone;
                gone.name = name;
                members.push_back(ObjectOf(computer_, gone, false));
            }
        }
        auto list = automation::MakeObject<MemberList>(std::move(members));
        if (!list) Fail(0x8007000Eu);
        return Value(Variant(ComPtr<IDispatch>(std::move(list))));
    }

    Value IsMember(const Arguments& args) {
        const std::u16string user = MemberName(args.Text(0));
        const auto members = Directory([&] { return OpenMachineAccounts()->Members(account_.name); });
        for (const auto& member : members)
            if (SameText(member, user)) return Value(true);
        return Value(false);
    }

    Value Get(const Arguments& args) {
        const std::u16string name = FoldName(args.Text(0));
        if (name == u"DESCRIPTION") return GetDescription(args);
        if (name == u"NAME") return Name(args);
        Fail(kPropertyNotFound);
    }

    Value Put(const Arguments& args) {
        if (FoldName(args.Text(0)) != u"DESCRIPTION") Fail(kPropertyNotFound);
        PutDescription(args[1]);
        return Value();
    }
};

Variant ObjectOf(const std::u16string& computer, const Account& account, bool stored) {
    if (account.group) {
        auto group = automation::MakeObject<Group>(computer, account, stored);
        if (!group) Fail(0x8007000Eu);
        return Variant(ComPtr<IDispatch>(std::move(group)));
    }
    auto user = automation::MakeObject<User>(computer, account, stored);
    if (!user) Fail(0x8007000Eu);
    return Variant(ComPtr<IDispatch>(std::move(user)));
}

// "user" or "group", any case; nullopt for another class.
std::optional<bool> IsGroupClass(std::u16string_view cls) {
    if (SameText(cls, u"user")) return false;
    if (SameText(cls, u"group")) return true;
    return std::nullopt;
}

// The stored account of that name and class.
Account Existing(std::u16string_view name, bool group) {
    const auto account = Directory([&] { return OpenMachineAccounts()->Find(name); });
    if (!account || account->group != group) Fail(group ? kGroupNotFound : kUserNotFound);
    return *account;
}

class Computer final : public automation::AutomationObject<Computer, idl::IWinNTComputer> {
public:
    explicit Computer(std::u16string name) : name_(std::move(name)) {}

    Value Name(const Arguments&) { return Value(name_); }
    Value Class(const Arguments&) { return Value(u"Computer"); }
    Value ADsPath(const Arguments&) { return Value(std::u16string(kScheme) + name_); }

    bool ClassOf(const Arguments& args, std::size_t i) {
        const auto group = IsGroupClass(args.Text(i));
        if (!group) Fail(kUnknownObject);
        return *group;
    }

    Value GetObject(const Arguments& args) {
        const bool group = ClassOf(args, 0);
        return Value(ObjectOf(name_, Existing(args.Text(1), group), true));
    }

    Value Create(const Arguments& args) {
        const bool group = ClassOf(args, 0);
        const std::u16string name = args.Text(1);
        Directory([&] { CheckAccountName(name); });
        Account account;
        account.name = name;
        account.group = group;
        account.flags = group ? 0 : kNewUserFlags;
        return Value(ObjectOf(name_, account, false));
    }

    Value Delete(const Arguments& args) {
        const bool group = ClassOf(args, 0);
        const Account account = Existing(args.Text(1), group);
        Directory([&] { OpenMachineAccounts()->Delete(account.name); });
        return Value();
    }

    Value NewEnum(const Arguments&) {
        std::vector<Variant> children;
        for (const Account& account : Directory([] { return OpenMachineAccounts()->List(); }))
            children.push_back(ObjectOf(name_, account, true));
        return automation::NewEnum(std::move(children));
    }

private:
    std::u16string name_;
};

}  // namespace

ComPtr<IDispatch> BindWinNT(std::u16string_view display_name) {
    if (display_name.size() < kScheme.size() || !SameText(display_name.substr(0, kScheme.size()), kScheme))
        Fail(0x800401E4u);
    std::u16string_view rest = display_name.substr(kScheme.size());
    while (!rest.empty() && rest.back() == u'/') rest.remove_suffix(1);
    const size_t slash = rest.find(u'/');
    const std::u16string_view computer = rest.substr(0, slash);
    if (!IsThisComputer(computer)) Fail(kBadNetPath);
    if (slash == std::u16string_view::npos) {
        auto object = automation::MakeObject<Computer>(std::u16string(computer));
        if (!object) Fail(0x8007000Eu);
        return object;
    }
    std::u16string_view name = rest.substr(slash + 1);
    std::optional<bool> group;
    if (const size_t comma = name.find(u','); comma != std::u16string_view::npos) {
        group = IsGroupClass(name.substr(comma + 1));
        if (!group) Fail(kUnknownObject);
        name = name.substr(0, comma);
    }
    const auto account = Directory([&] { return OpenMachineAccounts()->Find(name); });
    if (!account || (group && account->group != *group)) Fail(group.value_or(false) ? kGroupNotFound : kUserNotFound);
    Value object(ObjectOf(std::u16string(computer), *account, true));
    return object.AsObject().dispatch();
}

}  // namespace quorvel::winnt
