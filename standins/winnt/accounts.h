// The local accounts of the WinNT directory stand-in: users and groups of
// one computer, group memberships, and the password policy. Names match
// without regard to case and keep the spelling they were created with.
// Passwords are kept only as salted one-way hashes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"

namespace quorvel::winnt {

// Account flags (UserFlags).
enum : std::int32_t {
    kUfScript = 0x1,
    kUfAccountDisable = 0x2,
    kUfPasswdCantChange = 0x40,
    kUfNormalAccount = 0x200,
    kUfDontExpirePasswd = 0x10000,
    kNewUserFlags = kUfNormalAccount | kUfScript,
};

// What a client of the directory sees when an operation fails: the HRESULT
// and the system's text for it.
enum : std::uint32_t {
    kBadNetPath = 0x80070035u,        // another computer
    kInvalidPassword = 0x80070056u,   // ChangePassword with a wrong old password
    kMemberNotInAlias = 0x80070561u,
    kMemberInAlias = 0x80070562u,
    kBadUsername = 0x8007089Au,       // a name holding a forbidden character
    kGroupNotFound = 0x800708ACu,
    kUserNotFound = 0x800708ADu,
    kGroupExists = 0x800708AFu,
    kUserExists = 0x800708B0u,
    kPasswordTooShort = 0x800708C5u,
    kNoSuchUser = 0x80070525u,        // a member path naming no user
    kPropertyNotFound = 0x8000500Du,  // not in the property cache
    kUnknownObject = 0x80005004u,     // a class the container does not hold
    kStoreFailure = 0x80004005u,
};

class DirectoryError : public std::runtime_error {
public:
    explicit DirectoryError(std::uint32_t code) : std::runtime_error("directory operation failed"), code_(code) {}
    std::uint32_t code() const { return code_; }

private:
    std::uint32_t code_;
};

// A name may not hold " / \ [ ] : ; | = , + * ? < > or a control
// character, may not be empty or end with a period, and has at most 20
// characters; raises kBadUsername otherwise.
void CheckAccountName(std::u16string_view name);

struct Account {
    std::u16string name;
    bool group = false;
    std::u16string full_name;
    std::u16string description;
    std::int32_t flags = kNewUserFlags;
    std::string password_hash;  // empty: no password
};

// Where the accounts live; one per machine. Every call is one transaction;
// a failing call changes nothing.
class AccountStore {
public:
    virtual ~AccountStore() = default;
    virtual std::optional<Account> Find(std::u16string_view name) = 0;
    // Users and groups in the order they were created.
    virtual std::vector<Account> List() = 0;
    // Raises kUserExists / kGroupExists when the name is taken by either kind.
    virtual void Create(const Account& account) = 0;
    // Writes the account's properties and hash; raises kUserNotFound / kGroupNotFound.
    virtual void Update(const Account& account) = 0;
    // Removes the account with its memberships (of a user) or its members (of a group).
    virtual void Delete(std::u16string_view name) = 0;
    virtual std::vector<std::u16string> Members(std::u16string_view group) = 0;
    // Raise kMemberInAlias / kMemberNotInAlias.
    virtual void AddMember(std::u16string_view group, std::u16string_view user) = 0;
    virtual void RemoveMember(std::u16string_view group, std::u16string_view user) = 0;
};

// The machine's store, made with the accounts of a fresh machine
// (Administrator and Guest; Administrators, Users and Guests) on first use.
std::unique_ptr<AccountStore> OpenMachineAccounts();

// The accounts a fresh machine has, in creation order, and their memberships
// (group, user).
std::vector<Account> FreshAccounts();
std::vector<std::pair<std::u16string, std::u16string>> FreshMemberships();

// [Accounts] MinPasswordLength of the machine (0 when unset).
std::int32_t MinPasswordLength();

// What account and group names are compared by: their ASCII upper case.
inline std::u16string FoldName(std::u16string_view name) { return base::ToUpperAscii(name); }

}  // namespace quorvel::winnt
