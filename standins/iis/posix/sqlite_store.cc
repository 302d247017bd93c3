// The metabase of a POSIX machine: an SQLite database, metabase.db, in the
// machine folder. Every commit is one transaction (rollback journal, full
// sync), so a change that returned survives a crash and a concurrent writer
// in another process never loses it.
//
// The file is its owner's alone (0600, as are its journals, which SQLite
// makes with the database's mode), and the secret properties in it are
// sealed with the machine's key, metabase.key beside it (secret.cc).
//
// Reads come from a copy of the whole metabase kept in memory. Before each
// read the store's generation (metabase.db-generation beside it, moved by
// every commit of every process) says whether anything was committed since
// the copy was made: a bind costs one load from shared memory, no system
// call, and a commit of another process is seen by the next read. When the
// generation has moved, the file is looked at: the database's change counter
// (four bytes of the file header that SQLite increments with every committed
// transaction) tells whether the copy must be read again, and a file at the
// path that is not the one open (the store moved away and made again) is
// opened instead.
#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>

#include "platform/posix/atomic_file.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/posix/runtime/sqlite_connection.h"
#include "platform/posix/runtime/store_generation.h"
#include "platform/system.h"
#include "platform/utf8.h"
#include "standins/iis/metabase.h"

namespace quorvel::iis {
namespace {

using platform::FromUtf8;
using platform::ToUtf8;

// 2: secret properties sealed (a store of version 1 is sealed when opened).
constexpr int kSchemaVersion = 2;
constexpr off_t kChangeCounterOffset = 24;

using posix::UniqueFd;
using Stmt = posix::SqliteStatement;

[[noreturn]] void Fail() { throw DirectoryError(kStoreFailure); }

void Check(int rc, int expected = SQLITE_OK) {
    if (rc != expected) Fail();
}

std::string Column(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return std::string(text == nullptr ? "" : text, static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    return text;
}

class SqliteStore final : public Store {
public:
    explicit SqliteStore(const std::filesystem::path& file)
        : file_(file), generation_(std::make_unique<posix::StoreGeneration>(file.string() + "-generation", 0600)) {
        OpenFile();
    }

    // A computer's name changes only with a restart: read once per process.
    bool IsComputerName(std::u16string_view name) override {
        if (IsKey(name, u"LOCALHOST")) return true;
        std::lock_guard lock(mutex_);
        if (!computer_) {
            std::string computer;
            computer_ = platform::GetComputerName(computer) ? UpperKey(FromUtf8(computer)) : Text();
        }
        return !computer_->empty() && IsKey(name, *computer_);
    }

    std::optional<Node> Load(std::u16string_view path) override {
        std::lock_guard lock(mutex_);
        Refresh();
        const Node* node = tree_->Find(path);
        if (node == nullptr) return std::nullopt;
        // Without the list of children: W3SVC may hold thousands.
        return Node{node->name, node->cls, node->properties, {}};
    }

    ChildList Children(std::u16string_view path) override {
        std::lock_guard lock(mutex_);
        Refresh();
        ChildList children = tree_->Children(path);
        if (!children) throw DirectoryError(kPathNotFound);
        return children;
    }

    void Commit(const Change& change) override {
        Write([&](Tree& tree) {
            tree.Check(change);
            ApplyRows(change);
            return [&change](Tree& t) { t.Apply(change); };
        });
    }

    void Backup(std::u16string_view name, std::int32_t version, std::int32_t flags) override {
        if (name.empty() || version < kNextVersion) throw DirectoryError(kInvalidArgument);
        const std::string key = ToUtf8(UpperKey(name));
        Write([&](Tree& tree) {
            std::int32_t chosen = version;
            if (version == kNextVersion) {
                const auto highest = HighestVersion(key);
                chosen = highest ? *highest + 1 : 0;
            } else if (VersionExists(key, version) && (flags & kOverwrite) == 0) {
                throw DirectoryError(kAlreadyExists);
            }
            Stmt stmt = Prepare(
                "INSERT OR REPLACE INTO backups (key, version, name, made, data) VALUES (?1, ?2, ?3, ?4, ?5)");
            BindText(stmt.get(), 1, key);
            sqlite3_bind_int(stmt.get(), 2, chosen);
            BindText(stmt.get(), 3, ToUtf8(name));
            BindText(stmt.get(), 4, NowUtc());
            BindText(stmt.get(), 5, tree.Serialize());
            Check(sqlite3_step(stmt.get()), SQLITE_DONE);
            return [](Tree&) {};
        });
    }

    void Restore(std::u16string_view name, std::int32_t version) override {
        const std::string key = ToUtf8(UpperKey(name));
        Write([&](Tree&) {
            std::int32_t chosen = version;
            if (version == kHighestVersion) {
                const auto highest = HighestVersion(key);
                if (!highest) throw DirectoryError(kFileNotFound);
                chosen = *highest;
            }
            Stmt stmt = Prepare("SELECT data FROM backups WHERE key = ?1 AND version = ?2");
            BindText(stmt.get(), 1, key);
            sqlite3_bind_int(stmt.get(), 2, chosen);
            if (sqlite3_step(stmt.get()) != SQLITE_ROW) throw DirectoryError(kFileNotFound);
            auto parsed = Tree::Parse(Column(stmt.get(), 0));
            if (!parsed) Fail();
            return ReplaceAll(std::make_shared<Tree>(std::move(*parsed)));
        });
    }

    void Import(const Tree& tree) override {
        Write([&](Tree&) { return ReplaceAll(std::make_shared<Tree>(tree)); });
    }

    void DeleteBackup(std::u16string_view name, std::int32_t version) override {
        const std::string key = ToUtf8(UpperKey(name));
        Write([&](Tree&) {
            Stmt stmt = Prepare("DELETE FROM backups WHERE key = ?1 AND version = ?2");
            BindText(stmt.get(), 1, key);
            sqlite3_bind_int(stmt.get(), 2, version);
            Check(sqlite3_step(stmt.get()), SQLITE_DONE);
            if (sqlite3_changes(db_.get()) == 0) throw DirectoryError(kFileNotFound);
            return [](Tree&) {};
        });
    }

    std::vector<BackupInfo> Backups() override {
        std::lock_guard lock(mutex_);
        std::vector<BackupInfo> list;
        Stmt stmt = Prepare("SELECT name, version, made FROM backups ORDER BY key, version");
        while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
            list.push_back({FromUtf8(Column(stmt.get(), 0)), sqlite3_column_int(stmt.get(), 1), Column(stmt.get(), 2)});
        }
        return list;
    }

private:
    void Exec(const char* sql) { Check(sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr)); }

    Stmt Prepare(const char* sql) {
        sqlite3_stmt* raw = nullptr;
        Check(sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr));
        return Stmt(raw);
    }

    static void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
        Check(sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    }

    // A transaction that rolls back unless it was committed.
    class Transaction {
    public:
        Transaction(SqliteStore& store, const char* begin) : store_(store) { store_.Exec(begin); }
        ~Transaction() {
            if (open_) sqlite3_exec(store_.db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void Commit() {
            store_.Exec("COMMIT");
            open_ = false;
        }

    private:
        SqliteStore& store_;
        bool open_ = true;
    };

    // The file at the path, made when missing; the copy in memory is read
    // from it next.
    void OpenFile(bool in_turn = false) {
        KeepPrivate(file_);
        counter_.reset();
        db_ = posix::OpenSqlite(file_);
        if (!db_) Fail();
        Exec("PRAGMA journal_mode=DELETE");
        Exec("PRAGMA synchronous=FULL");
        if (UserVersion() != kSchemaVersion) CreateSchema(in_turn);
        counter_fd_ = UniqueFd(open(file_.c_str(), O_RDONLY | O_CLOEXEC));
        if (!counter_fd_) Fail();
        struct stat st {};
        if (fstat(counter_fd_.get(), &st) != 0) Fail();
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }

    // Maps the generation file at its path when it is not the one mapped
    // (removed with the machine folder, and made again). Never inside a
    // turn, which belongs to the one mapped.
    void FollowGeneration() {
        if (!generation_->StillAtPath())
            generation_ = std::make_unique<posix::StoreGeneration>(generation_->file(), 0600);
    }

    // Opens the file at the path when it is not the one open (moved away, or
    // removed with the machine folder, and made again).
    void FollowFile(bool in_turn = false) {
        struct stat st {};
        if (stat(file_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_) OpenFile(in_turn);
    }

    int UserVersion() {
        Stmt version = Prepare("PRAGMA user_version");
        Check(sqlite3_step(version.get()), SQLITE_ROW);
        return sqlite3_column_int(version.get(), 0);
    }

    // Inside a commit's turn; one is taken when the caller holds none.
    void CreateSchema(bool in_turn) {
        std::optional<posix::StoreGeneration::Turn> turn;
        if (!in_turn && !turn.emplace(generation_->BeginCommit())) Fail();
        Transaction tx(*this, "BEGIN IMMEDIATE");
        const int found = UserVersion();
        if (found == kSchemaVersion) return;
        if (found == 1) {
            SealSecrets();
            tx.Commit();
            return;
        }
        if (found != 0) Fail();
        Exec(
            "CREATE TABLE objects (key TEXT PRIMARY KEY, parent TEXT NOT NULL, name TEXT NOT NULL,"
            " class TEXT NOT NULL, seq INTEGER NOT NULL);"
            "CREATE INDEX objects_children ON objects (parent, seq);"
            "CREATE INDEX objects_order ON objects (seq);"
            "CREATE TABLE properties (object TEXT NOT NULL, key TEXT NOT NULL, name TEXT NOT NULL,"
            " type INTEGER NOT NULL, value TEXT NOT NULL, PRIMARY KEY (object, key)) WITHOUT ROWID;"
            "CREATE TABLE backups (key TEXT NOT NULL, version INTEGER NOT NULL, name TEXT NOT NULL,"
            " made TEXT NOT NULL, data TEXT NOT NULL, PRIMARY KEY (key, version));"
            "PRAGMA user_version = 2;");
        InsertAll(Tree());
        tx.Commit();
    }

    // Made for its owner alone, or made so when an older version left it
    // open to others.
    static void KeepPrivate(const std::filesystem::path& file) {
        const UniqueFd fd(open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!fd) Fail();
        struct stat st {};
        if (fstat(fd.get(), &st) != 0) Fail();
        if ((st.st_mode & 077) != 0 && fchmod(fd.get(), st.st_mode & 0700) != 0) Fail();
    }

    // A store of version 1 kept secrets as plain strings, in its objects and
    // in its backups: sealed now, inside the caller's transaction.
    void SealSecrets() {
        // The plain values are overwritten, not just let go.
        Exec("PRAGMA secure_delete = ON");
        struct Row {
            std::string object, key, name, value;
        };
        std::vector<Row> plain;
        Stmt secrets = Prepare("SELECT object, key, name, value FROM properties WHERE type = 0");
        while (sqlite3_step(secrets.get()) == SQLITE_ROW) {
            if (IsSecretProperty(FromUtf8(Column(secrets.get(), 2))))
                plain.push_back({Column(secrets.get(), 0), Column(secrets.get(), 1), Column(secrets.get(), 2),
                                 Column(secrets.get(), 3)});
        }
        secrets.reset();
        for (const Row& row : plain) {
            const StoredValue stored = StoredForm({FromUtf8(row.name), FromUtf8(row.value)});
            Stmt update = Prepare("UPDATE properties SET type = ?1, value = ?2 WHERE object = ?3 AND key = ?4");
            sqlite3_bind_int(update.get(), 1, stored.type);
            BindText(update.get(), 2, stored.text);
            BindText(update.get(), 3, row.object);
            BindText(update.get(), 4, row.key);
            Check(sqlite3_step(update.get()), SQLITE_DONE);
        }
        std::vector<std::pair<std::string, std::int32_t>> backups;
        Stmt list = Prepare("SELECT key, version FROM backups");
        while (sqlite3_step(list.get()) == SQLITE_ROW) backups.emplace_back(Column(list.get(), 0), sqlite3_column_int(list.get(), 1));
        list.reset();
        for (const auto& [key, version] : backups) {
            Stmt read = Prepare("SELECT data FROM backups WHERE key = ?1 AND version = ?2");
            BindText(read.get(), 1, key);
            sqlite3_bind_int(read.get(), 2, version);
            if (sqlite3_step(read.get()) != SQLITE_ROW) Fail();
            const auto tree = Tree::Parse(Column(read.get(), 0));
            read.reset();
            if (!tree) continue;  // unreadable already; left as it was
            Stmt write = Prepare("UPDATE backups SET data = ?1 WHERE key = ?2 AND version = ?3");
            BindText(write.get(), 1, tree->Serialize());
            BindText(write.get(), 2, key);
            sqlite3_bind_int(write.get(), 3, version);
            Check(sqlite3_step(write.get()), SQLITE_DONE);
        }
        Exec("PRAGMA user_version = 2");
    }

    std::optional<std::uint32_t> ChangeCounter() const {
        unsigned char bytes[4];
        if (pread(counter_fd_.get(), bytes, sizeof bytes, kChangeCounterOffset) != sizeof bytes) return std::nullopt;
        return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
               std::uint32_t{bytes[3]};
    }

    // Brings the copy in memory up to the last commit; the caller holds the mutex.
    void Refresh() {
        const std::uint64_t asked = LookAtStoreAgainCount();
        if (tree_ && settled_ && asked == asked_ && generation_->Unchanged(*settled_)) return;
        asked_ = asked;
        FollowGeneration();
        FollowFile();
        const auto before = generation_->Settled();
        const auto counter = ChangeCounter();
        if (!tree_ || !counter || counter != counter_) {
            Transaction tx(*this, "BEGIN");
            ReadAll();
            tx.Commit();
        }
        // Trusted until the next commit only when none was under way.
        settled_ = before && generation_->Unchanged(*before) ? before : std::nullopt;
    }

    // Inside a transaction: the whole metabase, and the counter it belongs to.
    void ReadAll() {
        auto tree = std::make_unique<Tree>();
        std::map<std::string, std::vector<std::string>> by_parent;
        std::map<std::string, std::pair<std::string, std::string>> info;
        Stmt all = Prepare("SELECT key, parent, name, class FROM objects ORDER BY seq");
        while (sqlite3_step(all.get()) == SQLITE_ROW) {
            const std::string key = Column(all.get(), 0);
            info[key] = {Column(all.get(), 2), Column(all.get(), 3)};
            if (!key.empty()) by_parent[Column(all.get(), 1)].push_back(key);
        }
        Stmt props = Prepare("SELECT object, name, type, value FROM properties");
        std::map<std::string, Properties> properties;
        while (sqlite3_step(props.get()) == SQLITE_ROW) {
            auto value = ValueOfStored(sqlite3_column_int(props.get(), 2), Column(props.get(), 3));
            if (!value) Fail();
            const Text name = FromUtf8(Column(props.get(), 1));
            properties[Column(props.get(), 0)][UpperKey(name)] = Property{name, std::move(*value)};
        }
        *tree = BuildTree(info, by_parent, properties);
        const auto counter = ChangeCounter();
        if (!counter) Fail();
        tree_ = std::move(tree);
        counter_ = counter;
    }

    static Tree BuildTree(const std::map<std::string, std::pair<std::string, std::string>>& info,
                          const std::map<std::string, std::vector<std::string>>& by_parent,
                          std::map<std::string, Properties>& properties) {
        Tree tree;
        if (!info.contains("")) Fail();
        // The fresh tree's own W3SVC is replaced by what the store holds.
        tree.Apply({Change::Kind::kDelete, u"W3SVC", {}, {}});
        tree.Apply({Change::Kind::kPut, u"", {}, std::move(properties[""])});
        std::vector<std::pair<std::string, Text>> pending{{"", Text()}};
        while (!pending.empty()) {
            const auto [parent, parent_path] = pending.back();
            pending.pop_back();
            const auto children = by_parent.find(parent);
            if (children == by_parent.end()) continue;
            for (const std::string& key : children->second) {
                const auto& [name, cls] = info.at(key);
                const Text path = JoinPath(parent_path, FromUtf8(name));
                tree.Apply({Change::Kind::kCreate, path, FromUtf8(cls), std::move(properties[key])});
                pending.emplace_back(key, path);
            }
        }
        return tree;
    }

    // One write transaction: `work` checks and writes the rows and returns
    // what to do to the copy in memory once the commit succeeded.
    template <typename Work>
    void Write(Work&& work) {
        std::lock_guard lock(mutex_);
        settled_.reset();
        FollowGeneration();
        const posix::StoreGeneration::Turn turn = generation_->BeginCommit();
        if (!turn) Fail();
        FollowFile(true);
        Transaction tx(*this, "BEGIN IMMEDIATE");
        const auto before = ChangeCounter();
        if (!tree_ || !before || before != counter_) ReadAll();
        auto update = work(*tree_);
        tx.Commit();
        update(*tree_);
        // Our own commit moves the counter by one; anything else means
        // another writer came in between, and the copy is read again.
        const auto after = ChangeCounter();
        if (after && counter_ && *after == *counter_ + 1) {
            counter_ = after;
            settled_ = turn.MarkAfter();
        } else {
            counter_.reset();
        }
    }

    void InsertObject(const std::string& key, const std::string& parent, const Text& name, const Text& cls) {
        Stmt stmt = Prepare(
            "INSERT INTO objects (key, parent, name, class, seq)"
            " VALUES (?1, ?2, ?3, ?4, (SELECT coalesce(max(seq), 0) + 1 FROM objects))");
        BindText(stmt.get(), 1, key);
        BindText(stmt.get(), 2, parent);
        BindText(stmt.get(), 3, ToUtf8(name));
        BindText(stmt.get(), 4, ToUtf8(cls));
        Check(sqlite3_step(stmt.get()), SQLITE_DONE);
    }

    void PutProperties(const std::string& object, const Properties& properties) {
        Stmt stmt = Prepare(
            "INSERT OR REPLACE INTO properties (object, key, name, type, value) VALUES (?1, ?2, ?3, ?4, ?5)");
        for (const auto& [key, property] : properties) {
            const StoredValue stored = StoredForm(property);
            sqlite3_reset(stmt.get());
            BindText(stmt.get(), 1, object);
            BindText(stmt.get(), 2, ToUtf8(key));
            BindText(stmt.get(), 3, ToUtf8(property.name));
            sqlite3_bind_int(stmt.get(), 4, stored.type);
            BindText(stmt.get(), 5, stored.text);
            Check(sqlite3_step(stmt.get()), SQLITE_DONE);
        }
    }

    void ApplyRows(const Change& change) {
        const std::string key = ToUtf8(UpperKey(change.path));
        switch (change.kind) {
            case Change::Kind::kCreate:
                InsertObject(key, ToUtf8(UpperKey(ParentPath(change.path))), LastName(change.path), change.cls);
                PutProperties(key, change.properties);
                return;
            case Change::Kind::kPut:
                PutProperties(key, change.properties);
                return;
            case Change::Kind::kDelete: {
                // The object and every key that begins with its key and a '/'.
                for (const char* sql : {"DELETE FROM objects WHERE key = ?1 OR substr(key, 1, length(?1) + 1) = ?1 || '/'",
                                        "DELETE FROM properties WHERE object = ?1 OR substr(object, 1, length(?1) + 1) = ?1 || '/'"}) {
                    Stmt stmt = Prepare(sql);
                    BindText(stmt.get(), 1, key);
                    Check(sqlite3_step(stmt.get()), SQLITE_DONE);
                }
                return;
            }
        }
    }

    std::function<void(Tree&)> ReplaceAll(std::shared_ptr<Tree> tree) {
        Exec("DELETE FROM objects; DELETE FROM properties");
        InsertAll(*tree);
        return [tree](Tree& t) { t = *tree; };
    }

    void InsertAll(const Tree& tree) {
        std::map<Text, Text> spelled;
        tree.Walk([&](const Text& key, const Node& node) {
            const Text parent = key.empty() ? Text() : ParentPath(key);
            if (!key.empty()) InsertObject(ToUtf8(key), ToUtf8(parent), node.name, node.cls);
            else InsertObject("", "", u"", node.cls);
            PutProperties(ToUtf8(key), *node.properties);
        });
    }

    std::optional<std::int32_t> HighestVersion(const std::string& key) {
        Stmt stmt = Prepare("SELECT max(version) FROM backups WHERE key = ?1");
        BindText(stmt.get(), 1, key);
        if (sqlite3_step(stmt.get()) != SQLITE_ROW || sqlite3_column_type(stmt.get(), 0) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_int(stmt.get(), 0);
    }

    bool VersionExists(const std::string& key, std::int32_t version) {
        Stmt stmt = Prepare("SELECT 1 FROM backups WHERE key = ?1 AND version = ?2");
        BindText(stmt.get(), 1, key);
        sqlite3_bind_int(stmt.get(), 2, version);
        return sqlite3_step(stmt.get()) == SQLITE_ROW;
    }

    std::mutex mutex_;
    const std::filesystem::path file_;
    std::unique_ptr<posix::StoreGeneration> generation_;
    posix::SqliteConnection db_;
    UniqueFd counter_fd_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::unique_ptr<Tree> tree_;
    std::optional<std::uint32_t> counter_;
    // The generation the copy is current under; none while it must be checked.
    std::optional<posix::StoreGeneration::Mark> settled_;
    std::uint64_t asked_ = 0;  // LookAtStoreAgainCount() at the last look
    std::optional<Text> computer_;
};

std::atomic<unsigned> g_forks{0};

// How many times this process came out of a fork as the child.
unsigned Forks() {
    static const int registered = pthread_atfork(nullptr, nullptr, [] { g_forks.fetch_add(1); });
    (void)registered;
    return g_forks.load();
}

}  // namespace

std::shared_ptr<Store> MachineStore() {
    // One store per machine folder and process: every object shares its copy.
    static std::mutex mutex;
    static std::map<std::string, std::pair<pid_t, std::shared_ptr<Store>>> stores;
    // The one asked for last, found again without a look at the map or the
    // process id while the folder stays (every bind asks).
    static std::uint64_t last_folder = 0;
    static unsigned last_forks = 0;
    static std::shared_ptr<Store> last;
    const std::uint64_t generation = posix::MachineFolderGeneration();
    if (generation == 0) throw DirectoryError(kStoreFailure);
    const unsigned forks = Forks();
    std::lock_guard lock(mutex);
    if (generation == last_folder && forks == last_forks && last) return last;
    const std::string folder = posix::MachineFolderString();
    if (folder.empty()) throw DirectoryError(kStoreFailure);
    const std::string file = folder + "/metabase.db";
    auto& [owner, store] = stores[file];
    if (store && owner != getpid()) {
        // A connection never crosses a fork: the child opens its own and
        // leaves the parent's untouched.
        new std::shared_ptr<Store>(std::move(store));
        store.reset();
    }
    if (!store) {
        store = std::make_shared<SqliteStore>(file);
        owner = getpid();
    }
    last_folder = generation;
    last_forks = forks;
    last = store;
    return store;
}

}  // namespace quorvel::iis
