// The one way the machine's SQLite stores (the registry, the IIS metabase,
// the accounts) hold their databases: a connection opened the same way, with
// the same wait for another process's lock, and prepared statements
// finalized on every path.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>

namespace quorvel::posix {

// How long a connection waits for another process's write to end before it
// reports SQLITE_BUSY: concurrent calls (a host registering while another
// calls, two calls committing to one metabase) wait for each other rather
// than fail, the longest commit (a metabase of thousands of sites) included.
inline constexpr int kSqliteBusyTimeoutMs = 30000;

struct CloseSqliteConnection {
    // Deferred until the last statement is finalized.
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteConnection = std::unique_ptr<sqlite3, CloseSqliteConnection>;

struct FinalizeSqliteStatement {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, FinalizeSqliteStatement>;

// `file` opened read-write (made when missing), usable from any thread;
// empty when it cannot be opened.
inline SqliteConnection OpenSqlite(const std::filesystem::path& file) {
    sqlite3* raw = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    SqliteConnection db(raw);  // closed even when the open failed
    if (rc != SQLITE_OK) return nullptr;
    sqlite3_busy_timeout(db.get(), kSqliteBusyTimeoutMs);
    return db;
}

}  // namespace quorvel::posix
