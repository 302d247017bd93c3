// SQLite, loaded by the first store that is opened rather than at start: a
// call that finds its class in the registry's snapshot never opens a store,
// and loading and binding the library would cost it more than its own work.
// The stand-ins that link SQLite get the same copy: a process has one, whose
// locks on a database file are its own.
#pragma once

#include <sqlite3.h>

#include <string>

namespace quorvel::posix {

// The functions of SQLite the machine's stores and the host use.
struct SqliteLibrary {
    decltype(&::sqlite3_open_v2) open_v2;
    decltype(&::sqlite3_close_v2) close_v2;
    decltype(&::sqlite3_busy_timeout) busy_timeout;
    decltype(&::sqlite3_exec) exec;
    decltype(&::sqlite3_prepare_v2) prepare_v2;
    decltype(&::sqlite3_finalize) finalize;
    decltype(&::sqlite3_bind_text) bind_text;
    decltype(&::sqlite3_step) step;
    decltype(&::sqlite3_column_int) column_int;
    decltype(&::sqlite3_column_text) column_text;
    decltype(&::sqlite3_column_bytes) column_bytes;
    decltype(&::sqlite3_backup_init) backup_init;
    decltype(&::sqlite3_backup_step) backup_step;
    decltype(&::sqlite3_backup_finish) backup_finish;
    decltype(&::sqlite3_sleep) sleep;
};

// SQLite loaded, once per process; nullptr when it cannot be, with the
// reason in `why` when given.
const SqliteLibrary* Sqlite(std::string* why = nullptr);

}  // namespace quorvel::posix
