// The accounts of the stand-in on Windows: one text file beside the stand-in
// library (winnt-accounts.txt, UTF-8), rewritten whole for each change
// (written beside, then moved over it) under a named mutex, so that every
// process of the machine sees one consistent directory.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/utf8.h"
#include "platform/win32/handles.h"
#include "platform/win32/module_path.h"
#include "platform/win32/replace_file.h"
#include "standins/winnt/accounts.h"
#include "support/line_fields.h"

namespace quorvel::winnt {
namespace {

// The stand-in library's folder, with its trailing separator.
std::wstring Folder() {
    const std::wstring self = win32::ThisModulePath();
    return self.substr(0, self.find_last_of(L"\\/") + 1);
}

// Fields are separated by TAB, each escaped (support/line_fields.h).
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(platform::UnescapeLineField(std::string_view(line).substr(start, tab - start)));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

struct Directory {
    std::vector<Account> accounts;
    std::vector<std::pair<std::u16string, std::u16string>> members;  // (group, user)

    std::vector<Account>::iterator Find(std::u16string_view name) {
        const std::u16string key = FoldName(name);
        return std::find_if(accounts.begin(), accounts.end(), [&](const Account& a) { return FoldName(a.name) == key; });
    }
    bool IsMember(std::u16string_view group, std::u16string_view user) const {
        return std::any_of(members.begin(), members.end(), [&](const auto& m) {
            return FoldName(m.first) == FoldName(group) && FoldName(m.second) == FoldName(user);
        });
    }
};

class FileStore final : public AccountStore {
public:
    FileStore() : path_(Folder() + L"winnt-accounts.txt") {
        mutex_.reset(CreateMutexW(nullptr, FALSE, L"Local\\QuorvelStandinsWinNTAccounts"));
    }

    template <typename Work>
    auto Read(Work&& work) {
        const Lock lock(mutex_.get());
        Directory d = Load();
        return work(d);
    }

    template <typename Work>
    void Change(Work&& work) {
        const Lock lock(mutex_.get());
        Directory d = Load();
        work(d);
        Save(d);
    }


    std::optional<Account> Find(std::u16string_view name) override {
        return Read([&](Directory& d) -> std::optional<Account> {
            const auto it = d.Find(name);
            if (it == d.accounts.end()) return std::nullopt;
            return *it;
        });
    }
    std::vector<Account> List() override {
        return Read([](Directory& d) { return d.accounts; });
    }
    void Create(const Account& account) override {
        Change([&](Directory& d) {
            if (d.Find(account.name) != d.accounts.end())
                throw DirectoryError(account.group ? kGroupExists : kUserExists);
            d.accounts.push_back(account);
        });
    }
    void Update(const Account& account) override {
        Change([&](Directory& d) {
            const auto it = d.Find(account.name);
            if (it == d.accounts.end() || it->group != account.group)
                throw DirectoryError(account.group ? kGroupNotFound : kUserNotFound);
            const std::u16string name = it->name;
            *it = account;
            it->name = name;
        });
    }
    void Delete(std::u16string_view name) override {
        Change([&](Directory& d) {
            const auto it = d.Find(name);
            if (it == d.accounts.end()) throw DirectoryError(kUserNotFound);
            const std::u16string key = FoldName(name);
            d.accounts.erase(it);
            std::erase_if(d.members, [&](const auto& m) { return FoldName(m.first) == key || FoldName(m.second) == key; });
        });
    }
    std::vector<std::u16string> Members(std::u16string_view group) override {
        return Read([&](Directory& d) {
            std::vector<std::u16string> names;
            for (const auto& [g, u] : d.members)
                if (FoldName(g) == FoldName(group)) names.push_back(u);
            return names;
        });
    }
    // The group, or the user, may have gone since the caller looked them up.
    void AddMember(std::u16string_view group, std::u16string_view user) override {
        Change([&](Directory& d) {
            const auto g = d.Find(group);
            if (g == d.accounts.end() || !g->group) throw DirectoryError(kGroupNotFound);
            const auto u = d.Find(user);
            if (u == d.accounts.end() || u->group) throw DirectoryError(kNoSuchUser);
            if (d.IsMember(group, user)) throw DirectoryError(kMemberInAlias);
            d.members.emplace_back(g->name, u->name);
        });
    }
    void RemoveMember(std::u16string_view group, std::u16string_view user) override {
        Change([&](Directory& d) {
            const auto g = d.Find(group);
            if (g == d.accounts.end() || !g->group) throw DirectoryError(kGroupNotFound);
            if (!d.IsMember(group, user)) throw DirectoryError(kMemberNotInAlias);
            std::erase_if(d.members, [&](const auto& m) {
                return FoldName(m.first) == FoldName(group) && FoldName(m.second) == FoldName(user);
            });
        });
    }

private:
    class Lock {
    public:
        explicit Lock(HANDLE mutex) : mutex_(mutex) {
            if (mutex_ == nullptr) throw DirectoryError(kStoreFailure);
            const DWORD rc = WaitForSingleObject(mutex_, 30000);
            if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) throw DirectoryError(kStoreFailure);
        }
        ~Lock() { ReleaseMutex(mutex_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        HANDLE mutex_;
    };

    Directory Load() const {
        std::ifstream in(std::filesystem::path(path_), std::ios::binary);
        Directory d;
        if (!in) {
            d.accounts = FreshAccounts();
            d.members = FreshMemberships();
            return d;
        }
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto f = Fields(line);
            if (f.size() == 7 && (f[0] == "user" || f[0] == "group")) {
                Account a;
                a.group = f[0] == "group";
                a.name = platform::FromUtf8(f[1]);
                a.full_name = platform::FromUtf8(f[2]);
                a.description = platform::FromUtf8(f[3]);
                a.flags = static_cast<std::int32_t>(std::strtol(f[4].c_str(), nullptr, 10));
                a.password_hash = f[5];
                d.accounts.push_back(std::move(a));
            } else if (f.size() == 3 && f[0] == "member") {
                d.members.emplace_back(platform::FromUtf8(f[1]), platform::FromUtf8(f[2]));
            }
        }
        return d;
    }

    void Save(const Directory& d) const {
        std::ostringstream out;
        const auto field = [](std::u16string_view text) { return platform::EscapeLineField(platform::ToUtf8(text)); };
        for (const Account& a : d.accounts) {
            out << (a.group ? "group" : "user") << '\t' << field(a.name) << '\t' << field(a.full_name) << '\t'
                << field(a.description) << '\t' << a.flags << '\t' << platform::EscapeLineField(a.password_hash)
                << "\t-\r\n";
        }
        for (const auto& [group, user] : d.members) out << "member\t" << field(group) << '\t' << field(user) << "\r\n";
        const std::string text = out.str();
        const std::string_view pieces[] = {text};
        if (win32::ReplaceFileWith(path_, pieces, {.ending = L".new"}) != ERROR_SUCCESS)
            throw DirectoryError(kStoreFailure);
    }

    std::wstring path_;
    win32::Handle mutex_;
};

}  // namespace

std::unique_ptr<AccountStore> OpenMachineAccounts() { return std::make_unique<FileStore>(); }

// HKLM\SOFTWARE\Quorvel\Standins\WinNT, value MinPasswordLength (DWORD).
std::int32_t MinPasswordLength() {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quorvel\\Standins\\WinNT", L"MinPasswordLength",
                     RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0;
    return value < 1000 ? static_cast<std::int32_t>(value) : 0;
}

}  // namespace quorvel::winnt
