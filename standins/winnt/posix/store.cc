// The accounts of the POSIX machine: accounts.db in the machine folder, an
// SQLite database shared by every process that reaches the directory.
#include <sqlite3.h>

#include <cstdlib>
#include <memory>

#include "platform/posix/machine.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/posix/runtime/sqlite_connection.h"
#include "platform/utf8.h"
#include "standins/winnt/accounts.h"

namespace quorvel::winnt {
namespace {

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS accounts ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key TEXT NOT NULL UNIQUE,"
    "  name TEXT NOT NULL,"
    "  is_group INTEGER NOT NULL,"
    "  full_name TEXT NOT NULL,"
    "  description TEXT NOT NULL,"
    "  flags INTEGER NOT NULL,"
    "  password_hash TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS members ("
    "  group_key TEXT NOT NULL,"
    "  user_key TEXT NOT NULL,"
    "  PRIMARY KEY (group_key, user_key));"
    "CREATE TABLE IF NOT EXISTS seeded (done INTEGER);";

using Db = posix::SqliteConnection;

std::string Utf8(std::u16string_view text) { return platform::ToUtf8(text); }
std::string Key(std::u16string_view name) { return Utf8(FoldName(name)); }

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) throw DirectoryError(kStoreFailure);
        stmt_.reset(raw);
    }
    Statement& Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_.get(), i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, std::int64_t value) {
        sqlite3_bind_int64(stmt_.get(), i, value);
        return *this;
    }
    // True while there is a row.
    bool Step() {
        const int rc = sqlite3_step(stmt_.get());
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw DirectoryError(kStoreFailure);
    }
    std::string Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_.get(), column));
        return text != nullptr ? text : "";
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_.get(), column); }

private:
    posix::SqliteStatement stmt_;
};

void Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw DirectoryError(kStoreFailure);
}

// One write transaction, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) { Exec(db_, "BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (db_ != nullptr) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        Exec(db_, "COMMIT");
        db_ = nullptr;
    }

private:
    sqlite3* db_;
};

Account Row(const Statement& s) {
    Account a;
    a.name = platform::FromUtf8(s.Text(0));
    a.group = s.Int(1) != 0;
    a.full_name = platform::FromUtf8(s.Text(2));
    a.description = platform::FromUtf8(s.Text(3));
    a.flags = static_cast<std::int32_t>(s.Int(4));
    a.password_hash = s.Text(5);
    return a;
}

constexpr char kSelect[] = "SELECT name, is_group, full_name, description, flags, password_hash FROM accounts ";

class SqliteStore final : public AccountStore {
public:
    explicit SqliteStore(Db db) : db_(std::move(db)) {}

    std::optional<Account> Find(std::u16string_view name) override {
        Statement s(db_.get(), (std::string(kSelect) + "WHERE key = ?").c_str());
        s.Bind(1, Key(name));
        if (!s.Step()) return std::nullopt;
        return Row(s);
    }

    std::vector<Account> List() override {
        Statement s(db_.get(), (std::string(kSelect) + "ORDER BY id").c_str());
        std::vector<Account> all;
        while (s.Step()) all.push_back(Row(s));
        return all;
    }

    void Create(const Account& account) override {
        Transaction t(db_.get());
        Insert(account);
        t.Commit();
    }

    void Update(const Account& account) override {
        Transaction t(db_.get());
        Statement s(db_.get(),
                    "UPDATE accounts SET full_name = ?, description = ?, flags = ?, password_hash = ? "
                    "WHERE key = ? AND is_group = ?");
        s.Bind(1, Utf8(account.full_name)).Bind(2, Utf8(account.description)).Bind(3, account.flags);
        s.Bind(4, account.password_hash).Bind(5, Key(account.name)).Bind(6, account.group ? 1 : 0);
        s.Step();
        if (sqlite3_changes(db_.get()) == 0) throw DirectoryError(account.group ? kGroupNotFound : kUserNotFound);
        t.Commit();
    }

    void Delete(std::u16string_view name) override {
        Transaction t(db_.get());
        const std::string key = Key(name);
        Statement s(db_.get(), "DELETE FROM accounts WHERE key = ?");
        s.Bind(1, key).Step();
        if (sqlite3_changes(db_.get()) == 0) throw DirectoryError(kUserNotFound);
        Statement m(db_.get(), "DELETE FROM members WHERE group_key = ? OR user_key = ?");
        m.Bind(1, key).Bind(2, key).Step();
        t.Commit();
    }

    std::vector<std::u16string> Members(std::u16string_view group) override {
        // A membership whose account is gone (a store an older version or a
        // hand wrote) keeps its key as the name.
        Statement s(db_.get(),
                    "SELECT COALESCE(a.name, m.user_key) FROM members m LEFT JOIN accounts a ON a.key = m.user_key "
                    "WHERE m.group_key = ? ORDER BY a.id IS NULL, a.id, m.rowid");
        s.Bind(1, Key(group));
        std::vector<std::u16string> names;
        while (s.Step()) names.push_back(platform::FromUtf8(s.Text(0)));
        return names;
    }

    // The group, or the user, may have gone since the caller looked them up:
    // a membership of a name that is not there would pass to the next
    // account created with it.
    void AddMember(std::u16string_view group, std::u16string_view user) override {
        Transaction t(db_.get());
        if (!IsKind(group, true)) throw DirectoryError(kGroupNotFound);
        if (!IsKind(user, false)) throw DirectoryError(kNoSuchUser);
        Statement exists(db_.get(), "SELECT 1 FROM members WHERE group_key = ? AND user_key = ?");
        exists.Bind(1, Key(group)).Bind(2, Key(user));
        if (exists.Step()) throw DirectoryError(kMemberInAlias);
        Statement s(db_.get(), "INSERT INTO members (group_key, user_key) VALUES (?, ?)");
        s.Bind(1, Key(group)).Bind(2, Key(user)).Step();
        t.Commit();
    }

    void RemoveMember(std::u16string_view group, std::u16string_view user) override {
        Transaction t(db_.get());
        if (!IsKind(group, true)) throw DirectoryError(kGroupNotFound);
        Statement s(db_.get(), "DELETE FROM members WHERE group_key = ? AND user_key = ?");
        s.Bind(1, Key(group)).Bind(2, Key(user)).Step();
        if (sqlite3_changes(db_.get()) == 0) throw DirectoryError(kMemberNotInAlias);
        t.Commit();
    }

    // A fresh machine's accounts, once.
    void Seed() {
        Transaction t(db_.get());
        Statement done(db_.get(), "SELECT 1 FROM seeded");
        if (done.Step()) return;
        for (const Account& account : FreshAccounts()) Insert(account);
        for (const auto& [group, user] : FreshMemberships()) {
            Statement s(db_.get(), "INSERT INTO members (group_key, user_key) VALUES (?, ?)");
            s.Bind(1, Key(group)).Bind(2, Key(user)).Step();
        }
        Exec(db_.get(), "INSERT INTO seeded VALUES (1)");
        t.Commit();
    }

private:
    // The store holds a group (or a user) of that name.
    bool IsKind(std::u16string_view name, bool group) {
        Statement s(db_.get(), "SELECT 1 FROM accounts WHERE key = ? AND is_group = ?");
        s.Bind(1, Key(name)).Bind(2, group ? 1 : 0);
        return s.Step();
    }

    void Insert(const Account& account) {
        Statement taken(db_.get(), "SELECT is_group FROM accounts WHERE key = ?");
        taken.Bind(1, Key(account.name));
        if (taken.Step()) throw DirectoryError(account.group ? kGroupExists : kUserExists);
        Statement s(db_.get(),
                    "INSERT INTO accounts (key, name, is_group, full_name, description, flags, password_hash) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?)");
        s.Bind(1, Key(account.name)).Bind(2, Utf8(account.name)).Bind(3, account.group ? 1 : 0);
        s.Bind(4, Utf8(account.full_name)).Bind(5, Utf8(account.description)).Bind(6, account.flags);
        s.Bind(7, account.password_hash).Step();
    }

    Db db_;
};

}  // namespace

std::unique_ptr<AccountStore> OpenMachineAccounts() {
    const std::filesystem::path folder = posix::MachineFolder();
    if (folder.empty()) throw DirectoryError(kStoreFailure);
    Db db = posix::OpenSqlite(folder / "accounts.db");
    if (!db) throw DirectoryError(kStoreFailure);
    Exec(db.get(), kSchema);
    auto store = std::make_unique<SqliteStore>(std::move(db));
    store->Seed();
    return store;
}

std::int32_t MinPasswordLength() {
    const auto value = posix::MachineSetting("Accounts", "MinPasswordLength");
    if (!value) return 0;
    const long length = std::strtol(value->c_str(), nullptr, 10);
    return length > 0 && length < 1000 ? static_cast<std::int32_t>(length) : 0;
}

}  // namespace quorvel::winnt
