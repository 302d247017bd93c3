#include "platform/posix/runtime/sqlite_library.h"

#include "platform/posix/runtime/shared_library.h"

namespace quorvel::posix {
namespace {

// Never unloaded: connections may outlive whoever opened them.
ResidentFunctions<SqliteLibrary> Load() {
    ResidentLibrary sqlite(QUORVEL_SQLITE_LIBRARY);
    ResidentFunctions<SqliteLibrary> loaded;
    SqliteLibrary& l = loaded.functions;
    loaded.ok = sqlite.Take("sqlite3_open_v2", l.open_v2) && sqlite.Take("sqlite3_close_v2", l.close_v2) &&
                sqlite.Take("sqlite3_busy_timeout", l.busy_timeout) && sqlite.Take("sqlite3_exec", l.exec) &&
                sqlite.Take("sqlite3_prepare_v2", l.prepare_v2) && sqlite.Take("sqlite3_finalize", l.finalize) &&
                sqlite.Take("sqlite3_bind_text", l.bind_text) && sqlite.Take("sqlite3_step", l.step) &&
                sqlite.Take("sqlite3_column_int", l.column_int) && sqlite.Take("sqlite3_column_text", l.column_text) &&
                sqlite.Take("sqlite3_column_bytes", l.column_bytes) &&
                sqlite.Take("sqlite3_backup_init", l.backup_init) &&
                sqlite.Take("sqlite3_backup_step", l.backup_step) &&
                sqlite.Take("sqlite3_backup_finish", l.backup_finish) && sqlite.Take("sqlite3_sleep", l.sleep);
    loaded.why = sqlite.why();
    return loaded;
}

}  // namespace

const SqliteLibrary* Sqlite(std::string* why) {
    static const ResidentFunctions<SqliteLibrary> loaded = Load();
    return loaded.Get(why);
}

}  // namespace quorvel::posix
