#include "platform/posix/runtime/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "base/ascii.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/posix/runtime/module_path.h"
#include "platform/posix/runtime/shared_library.h"
#include "platform/posix/runtime/sqlite_connection.h"
#include "platform/posix/runtime/store_generation.h"

namespace quorvel::posix::registry {
namespace {

using Db = SqliteConnection;
using Stmt = SqliteStatement;

// '\' separated, without leading, trailing or doubled separators.
std::string NormalizeKey(std::string_view key) {
    std::string out;
    for (char c : key) {
        if (c == '\\') {
            if (!out.empty() && out.back() != '\\') out += c;
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

bool Exec(sqlite3* db, const char* sql) { return Sqlite()->exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

Stmt Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (Sqlite()->prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return nullptr;
    return Stmt(raw);
}

bool Bind(sqlite3_stmt* stmt, int index, std::string_view text) {
    return Sqlite()->bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

// One write transaction; rolled back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db), open_(Exec(db, "BEGIN IMMEDIATE")) {}
    ~Transaction() {
        if (open_) Exec(db_, "ROLLBACK");
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return open_; }
    bool Commit() {
        if (!open_) return false;
        open_ = false;
        return Exec(db_, "COMMIT");
    }

private:
    sqlite3* db_;
    bool open_;
};

int SchemaVersion(sqlite3* db) {
    Stmt stmt = Prepare(db, "PRAGMA user_version");
    if (!stmt || Sqlite()->step(stmt.get()) != SQLITE_ROW) return -1;
    return Sqlite()->column_int(stmt.get(), 0);
}

constexpr int kSchemaVersion = 1;

void SeedStandins();

// One generation per store and process, shared by its readers and writers;
// made again when the file at its path is another one. Released with the
// module (registration loads and unloads it); its users hold their own.
std::shared_ptr<StoreGeneration> GenerationOf(const std::string& store, bool again = false) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<StoreGeneration>> known;
    std::lock_guard lock(mutex);
    std::shared_ptr<StoreGeneration>& generation = known[store];
    if (!generation || again) generation = std::make_shared<StoreGeneration>(store + "-generation", 0644);
    return generation;
}

std::shared_ptr<StoreGeneration> Generation() { return GenerationOf(StorePath().string()); }

// A connection to the store, made first when there is none. Not inside a
// commit's turn: making the store takes one, and so do the stand-ins'
// registrations that follow.
Db Open() {
    const std::filesystem::path path = StorePath();
    if (path.empty()) return nullptr;
    Db db = OpenSqlite(path);
    if (!db) return nullptr;
    const int version = SchemaVersion(db.get());
    if (version == kSchemaVersion) return db;
    if (version != 0) return nullptr;
    // A new store: made once, by whichever process gets there first.
    bool fresh = false;
    {
        const std::shared_ptr<StoreGeneration> generation = Generation();
        const StoreGeneration::Turn turn = generation->BeginCommit();
        if (!turn) return nullptr;
        Transaction tx(db.get());
        if (!tx.ok()) return nullptr;
        fresh = SchemaVersion(db.get()) == 0;
        if (fresh &&
            !Exec(db.get(),
                  "CREATE TABLE keys (path TEXT PRIMARY KEY COLLATE NOCASE);"
                  "CREATE TABLE vals (key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
                  " value TEXT NOT NULL, PRIMARY KEY (key, name));"
                  // The standard keys every Windows machine has; registration
                  // writes below them and never removes them. (AppID entries are
                  // kept as written: nothing here runs a class out of process.)
                  "INSERT INTO keys (path) VALUES ('AppID'), ('CLSID'), ('Interface'), ('TypeLib');"
                  "PRAGMA user_version = 1;")) {
            return nullptr;
        }
        if (!tx.Commit()) return nullptr;
    }
    if (fresh) SeedStandins();
    return db;
}

// The stand-in library this runtime belongs with: $QUORVEL_STANDINS, else
// the one beside the running module (the component, the host in a build
// folder), else where an installation puts it relative to the host, else
// the one built with it.
std::string StandinsLibrary() {
    if (const char* named = std::getenv("QUORVEL_STANDINS"); named != nullptr && *named != '\0') return named;
    std::error_code ec;
    if (const std::filesystem::path self = ThisModulePath(); !self.empty()) {
        const std::filesystem::path folder = self.parent_path();
        const std::filesystem::path beside = folder / "libquorvel_standins.so";
        if (std::filesystem::exists(beside, ec)) return beside.string();
#ifdef QUORVEL_INSTALLED_STANDINS
        const std::filesystem::path installed = (folder / QUORVEL_INSTALLED_STANDINS).lexically_normal();
        if (!ec && std::filesystem::exists(installed, ec)) return installed.string();
#endif
    }
#ifdef QUORVEL_DEFAULT_STANDINS
    if (std::filesystem::exists(QUORVEL_DEFAULT_STANDINS, ec)) return QUORVEL_DEFAULT_STANDINS;
#endif
    return {};
}

// A fresh machine's registry holds the stand-in classes, as a server with
// those products installed does: their library registers itself once, when
// the store is made. Without the library the machine simply has none.
void SeedStandins() {
    const std::string path = StandinsLibrary();
    if (path.empty()) return;
    SharedLibrary library;
    std::string error;
    if (!library.Open(path, error)) return;
    if (auto* entry = reinterpret_cast<std::int32_t (*)()>(library.Symbol("DllRegisterServer"))) entry();
}

bool RunWith(sqlite3* db, const char* sql, std::string_view a, std::string_view b = {}, std::string_view c = {},
             int binds = 1) {
    Stmt stmt = Prepare(db, sql);
    if (!stmt) return false;
    if (!Bind(stmt.get(), 1, a)) return false;
    if (binds > 1 && !Bind(stmt.get(), 2, b)) return false;
    if (binds > 2 && !Bind(stmt.get(), 3, c)) return false;
    return Sqlite()->step(stmt.get()) == SQLITE_DONE;
}

}  // namespace

std::filesystem::path StorePath() {
    const std::filesystem::path folder = MachineFolder();
    if (folder.empty()) return {};
    return folder / "registry.db";
}

bool SetValue(std::string_view key, std::string_view name, std::string_view value) {
    const std::string path = NormalizeKey(key);
    if (path.empty()) return false;
    Db db = Open();
    if (!db) return false;
    const std::shared_ptr<StoreGeneration> generation = Generation();
    const StoreGeneration::Turn turn = generation->BeginCommit();
    if (!turn) return false;
    Transaction tx(db.get());
    if (!tx.ok()) return false;
    // The key and every parent exist once a value is written below them.
    for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
        const std::string_view prefix = std::string_view(path).substr(0, end);
        if (!RunWith(db.get(), "INSERT OR IGNORE INTO keys (path) VALUES (?1)", prefix)) return false;
        if (end == std::string::npos) break;
    }
    if (!RunWith(db.get(),
                 "INSERT INTO vals (key, name, value) VALUES (?1, ?2, ?3)"
                 " ON CONFLICT (key, name) DO UPDATE SET value = excluded.value",
                 path, name, value, 3)) {
        return false;
    }
    return tx.Commit();
}

namespace {

std::optional<std::string> ReadValue(std::string_view key, std::string_view name) {
    Db db = Open();
    if (!db) return std::nullopt;
    Stmt stmt = Prepare(db.get(), "SELECT value FROM vals WHERE key = ?1 AND name = ?2");
    if (!stmt || !Bind(stmt.get(), 1, NormalizeKey(key)) || !Bind(stmt.get(), 2, name)) return std::nullopt;
    if (Sqlite()->step(stmt.get()) != SQLITE_ROW) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(Sqlite()->column_text(stmt.get(), 0));
    const int size = Sqlite()->column_bytes(stmt.get(), 0);
    return std::string(text == nullptr ? "" : text, static_cast<std::size_t>(size));
}

// Tells the states of the database file apart, with a look at the file:
// SQLite raises the change counter in its header with every commit, by any
// connection of any process, however close together. The file stays open
// between looks while it is the one at the path (a file renamed away, or
// replaced by a rename, as when a machine folder is removed and made again,
// is left for the one there now), and its inode, size and mtime belong to the
// version too. A file whose state cannot be told (missing, empty, in WAL
// mode, where the counter does not move) has no version, and is read every
// time. A look costs two system calls.
class Watch {
public:
    std::optional<Version> Current(const std::string& file) {
        struct stat st {};
        if (stat(file.c_str(), &st) != 0) {
            Close();
            return std::nullopt;
        }
        if (fd_ >= 0 && (file != file_ || st.st_dev != device_ || st.st_ino != inode_)) Close();
        if (fd_ < 0) {
            fd_ = open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0 || fstat(fd_, &st) != 0) {
                Close();
                return std::nullopt;
            }
            file_ = file;
            device_ = st.st_dev;
            inode_ = st.st_ino;
        }
        // Header bytes 18-27: the write and read format versions (2 in WAL
        // mode) and the change counter.
        unsigned char header[10];
        if (pread(fd_, header, sizeof header, 18) != static_cast<ssize_t>(sizeof header)) return std::nullopt;
        if (header[0] != 1 || header[1] != 1) return std::nullopt;
        Version version;
        version.device = static_cast<std::uint64_t>(st.st_dev);
        version.inode = static_cast<std::uint64_t>(st.st_ino);
        version.size = static_cast<std::int64_t>(st.st_size);
        version.mtime_sec = static_cast<std::int64_t>(st.st_mtim.tv_sec);
        version.mtime_nsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
        version.counter = (std::uint32_t{header[6]} << 24) | (std::uint32_t{header[7]} << 16) |
                          (std::uint32_t{header[8]} << 8) | std::uint32_t{header[9]};
        return version;
    }

private:
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    std::string file_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    int fd_ = -1;
};

// Raised by LookAtFileAgain().
std::atomic<std::uint64_t> g_look_again{0};

// Every value of the store, by folded key path and folded name.
using Table = std::map<std::pair<std::string, std::string>, std::string>;

std::pair<std::string, std::string> TableKey(std::string_view key, std::string_view name) {
    return {base::ToLowerAscii(NormalizeKey(key)), base::ToLowerAscii(name)};
}

std::optional<Table> ReadTable() {
    Db db = Open();
    if (!db) return std::nullopt;
    Stmt stmt = Prepare(db.get(), "SELECT key, name, value FROM vals");
    if (!stmt) return std::nullopt;
    Table table;
    int rc = SQLITE_ROW;
    while ((rc = Sqlite()->step(stmt.get())) == SQLITE_ROW) {
        std::string texts[3];
        for (int i = 0; i < 3; ++i) {
            const auto* text = reinterpret_cast<const char*>(Sqlite()->column_text(stmt.get(), i));
            texts[i].assign(text == nullptr ? "" : text, static_cast<std::size_t>(Sqlite()->column_bytes(stmt.get(), i)));
        }
        table.insert_or_assign(TableKey(texts[0], texts[1]), std::move(texts[2]));
    }
    if (rc != SQLITE_DONE) return std::nullopt;
    return table;
}

// The store as a process read it last, in a file beside it
// (registry.db-snapshot), tagged with the version it was read at: a process
// whose class is registered finds it there without loading SQLite. Written
// only when the version was the same before and after the read and no commit
// went through the store meanwhile; trusted only under the same version. A
// file that does not read whole is ignored, and the next read replaces it.
namespace snapshot {

constexpr std::string_view kHead = "quorvel registry snapshot 1\n";
constexpr std::string_view kEnd = "end\n";

std::string Tag(const Version& v) {
    return std::to_string(v.device) + ' ' + std::to_string(v.inode) + ' ' + std::to_string(v.size) + ' ' +
           std::to_string(v.mtime_sec) + ' ' + std::to_string(v.mtime_nsec) + ' ' + std::to_string(v.counter) + '\n';
}

void Put(std::string& out, std::string_view field) {
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

// Takes one length-prefixed field from `in`.
bool Take(std::string_view& in, std::string& field) {
    std::size_t length = 0;
    std::size_t i = 0;
    while (i < in.size() && i < 10 && in[i] >= '0' && in[i] <= '9') length = length * 10 + static_cast<std::size_t>(in[i++] - '0');
    if (i == 0 || i >= in.size() || in[i] != ':' || in.size() - i - 1 < length) return false;
    field.assign(in.substr(i + 1, length));
    in.remove_prefix(i + 1 + length);
    return true;
}

std::optional<Table> Read(const std::string& file, const Version& version) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size > 0 && st.st_size < (64 << 20)) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
    }
    close(fd);
    std::string_view in = bytes;
    const std::string tag = Tag(version);
    if (!in.starts_with(kHead)) return std::nullopt;
    in.remove_prefix(kHead.size());
    if (!in.starts_with(tag)) return std::nullopt;
    in.remove_prefix(tag.size());
    Table table;
    while (!in.empty() && in != kEnd) {
        std::string key, name, value;
        if (!Take(in, key) || !Take(in, name) || !Take(in, value) || !in.starts_with('\n')) return std::nullopt;
        in.remove_prefix(1);
        table.insert_or_assign({std::move(key), std::move(name)}, std::move(value));
    }
    if (in != kEnd) return std::nullopt;
    return table;
}

// Best effort: a process that may not write the machine folder reads the
// store itself, as before.
void Write(const std::string& file, const Version& version, const Table& table) {
    std::string bytes(kHead);
    bytes += Tag(version);
    for (const auto& [where, value] : table) {
        Put(bytes, where.first);
        Put(bytes, where.second);
        Put(bytes, value);
        bytes += '\n';
    }
    bytes += kEnd;
    const std::string temp = file + "." + std::to_string(getpid()) + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return;
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + put, bytes.size() - put);
        if (n <= 0) break;
        put += static_cast<std::size_t>(n);
    }
    const bool whole = put == bytes.size();
    if (close(fd) != 0 || !whole || rename(temp.c_str(), file.c_str()) != 0) unlink(temp.c_str());
}

// The same state of the file, whichever machine-folder generation each was told under.
bool SameFile(Version a, Version b) {
    a.folder = b.folder = 0;
    return a == b;
}

}  // namespace snapshot

// The store read before, kept while the database is unchanged: every bind
// of an outside object looks its class up, thousands of times in one call.
// The file is looked at once, and then again only when the store's generation
// has moved (a commit through the store, by any process) or when asked to;
// in between, an answer costs no system call.
class ReadCache {
public:
    std::optional<Version> Current() {
        std::lock_guard lock(mutex_);
        return CurrentLocked();
    }

    template <typename Read>
    std::optional<std::string> Get(std::string_view key, std::string_view name, Read&& read) {
        std::lock_guard lock(mutex_);
        const std::optional<Version> version = CurrentLocked();
        if (!version) {
            table_.reset();
            return read();
        }
        if (!table_ || version != version_) {
            table_ = Load(*version);
            version_ = version;
        }
        if (!table_) return read();
        const auto found = table_->find(TableKey(key, name));
        std::optional<std::string> value;
        if (found != table_->end()) value = found->second;
        // Read after the version: a commit in between changes the version
        // (and, made through the store, the generation), so the next look
        // reads the store again.
        if (settled_ && !generation_->Unchanged(*settled_)) table_.reset();
        return value;
    }

private:
    std::optional<Table> Load(const Version& version) {
        const std::string snapshot_file = file_ + "-snapshot";
        if (std::optional<Table> kept = snapshot::Read(snapshot_file, version)) return kept;
        std::optional<Table> table = ReadTable();
        if (!table) return std::nullopt;
        const std::optional<Version> after = watch_.Current(file_);
        if (settled_ && generation_->Unchanged(*settled_) && after && snapshot::SameFile(*after, version))
            snapshot::Write(snapshot_file, version, *table);
        return table;
    }

    // The file's name and its generation are made once per machine folder.
    std::uint64_t Locate() {
        const std::uint64_t folder = MachineFolderGeneration();
        if (folder == 0) return 0;
        if (folder != folder_ || !generation_) {
            file_ = StorePath().string();
            generation_ = GenerationOf(file_);
            settled_.reset();
            folder_ = folder;
        }
        return folder;
    }

    std::optional<Version> CurrentLocked() {
        const std::uint64_t folder = Locate();
        if (folder == 0) return std::nullopt;
        const std::uint64_t asked = g_look_again.load(std::memory_order_acquire);
        if (settled_ && asked == asked_ && generation_->Unchanged(*settled_)) return looked_;
        // The generation file too may have been made again with the folder.
        if (!generation_->StillAtPath()) generation_ = GenerationOf(file_, true);
        const std::optional<StoreGeneration::Mark> before = generation_->Settled();
        std::optional<Version> version = watch_.Current(file_);
        if (version) version->folder = folder;
        // Trusted until the next commit only when none was under way.
        settled_ = version && before && generation_->Unchanged(*before) ? before : std::nullopt;
        asked_ = asked;
        looked_ = version;
        return version;
    }

    std::mutex mutex_;
    std::uint64_t folder_ = 0;
    std::string file_;
    std::shared_ptr<StoreGeneration> generation_;
    Watch watch_;
    std::optional<StoreGeneration::Mark> settled_;
    std::uint64_t asked_ = 0;
    std::optional<Version> looked_;
    std::optional<Version> version_;
    std::optional<Table> table_;
};

// Never destroyed: components may look classes up while the process exits.
ReadCache& Cache() {
    static auto* cache = new ReadCache();
    return *cache;
}

}  // namespace

std::optional<std::string> GetValue(std::string_view key, std::string_view name) {
    return Cache().Get(key, name, [&] { return ReadValue(key, name); });
}

std::optional<Version> CurrentVersion() { return Cache().Current(); }

void LookAtFileAgain() { g_look_again.fetch_add(1, std::memory_order_release); }

std::uint64_t LookAgainCount() { return g_look_again.load(std::memory_order_acquire); }

bool KeyExists(std::string_view key) {
    Db db = Open();
    if (!db) return false;
    Stmt stmt = Prepare(db.get(), "SELECT 1 FROM keys WHERE path = ?1");
    if (!stmt || !Bind(stmt.get(), 1, NormalizeKey(key))) return false;
    return Sqlite()->step(stmt.get()) == SQLITE_ROW;
}

bool DeleteTree(std::string_view key) {
    const std::string path = NormalizeKey(key);
    if (path.empty()) return false;  // never the whole hive
    Db db = Open();
    if (!db) return false;
    const std::shared_ptr<StoreGeneration> generation = Generation();
    const StoreGeneration::Turn turn = generation->BeginCommit();
    if (!turn) return false;
    Transaction tx(db.get());
    if (!tx.ok()) return false;
    // lower() folds ASCII only, as COLLATE NOCASE does.
    const std::string below = path + "\\";
    if (!RunWith(db.get(),
                 "DELETE FROM vals WHERE key = ?1 OR lower(substr(key, 1, length(?2))) = lower(?2)", path, below,
                 {}, 2) ||
        !RunWith(db.get(),
                 "DELETE FROM keys WHERE path = ?1 OR lower(substr(path, 1, length(?2))) = lower(?2)", path,
                 below, {}, 2)) {
        return false;
    }
    return tx.Commit();
}

std::vector<std::string> AllKeys() {
    std::vector<std::string> keys;
    Db db = Open();
    if (!db) return keys;
    Stmt stmt = Prepare(db.get(), "SELECT path FROM keys ORDER BY path");
    if (!stmt) return keys;
    while (Sqlite()->step(stmt.get()) == SQLITE_ROW) {
        keys.emplace_back(reinterpret_cast<const char*>(Sqlite()->column_text(stmt.get(), 0)));
    }
    return keys;
}

}  // namespace quorvel::posix::registry
