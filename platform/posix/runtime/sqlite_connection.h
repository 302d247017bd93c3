// The one way the machine's SQLite stores (the registry, the IIS metabase,
// the accounts) hold their databases: a connection opened the same way, with
// the same wait for another process's lock, and prepared statements
// finalized on every path.
#pragma once

#include <filesystem>
#include <memory>

#include "platform/posix/runtime/sqlite_library.h"

namespace quorvel::posix {

// How long a connection waits for another process's write to end before it
// reports SQLITE_BUSY: concurrent calls (a host registering while another
// calls, two calls committing to one metabase) wait for each other rather
// than fail, the longest commit (a metabase of thousands of sites) included.
inline constexpr int kSqliteBusyTimeoutMs = 30000;

struct CloseSqliteConnection {
    // Deferred until the last statement is finalized.
    void operator()(sqlite3* db) const { Sqlite()->close_v2(db); }
};
using SqliteConnection = std::unique_ptr<sqlite3, CloseSqliteConnection>;

struct FinalizeSqliteStatement {
    void operator()(sqlite3_stmt* stmt) const { Sqlite()->finalize(stmt); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, FinalizeSqliteStatement>;

// `file` opened read-write (made when missing), or read-only, usable from any
// thread; empty when it cannot be opened (or SQLite cannot be loaded).
inline SqliteConnection OpenSqlite(const std::filesystem::path& file, bool read_only = false) {
    const SqliteLibrary* sqlite = Sqlite();
    if (sqlite == nullptr) return nullptr;
    sqlite3* raw = nullptr;
    const int flags =
        (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_FULLMUTEX;
    const int rc = sqlite->open_v2(file.c_str(), &raw, flags, nullptr);
    SqliteConnection db(raw);  // closed even when the open failed
    if (rc != SQLITE_OK) return nullptr;
    sqlite->busy_timeout(db.get(), kSqliteBusyTimeoutMs);
    return db;
}

}  // namespace quorvel::posix
