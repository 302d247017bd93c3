#include "platform/posix/runtime/sqlite_library.h"

#include <dlfcn.h>

namespace quorvel::posix {
namespace {

struct Loaded {
    SqliteLibrary library{};
    bool ok = false;
    std::string why;
};

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn& into, std::string& why) {
    into = reinterpret_cast<Fn>(dlsym(handle, name));
    if (into == nullptr) why = std::string(QUORVEL_SQLITE_LIBRARY " has no ") + name;
    return into != nullptr;
}

// Never unloaded: connections may outlive whoever opened them.
Loaded Load() {
    Loaded loaded;
    void* handle = dlopen(QUORVEL_SQLITE_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* message = dlerror();
        loaded.why = message != nullptr ? message : "cannot load " QUORVEL_SQLITE_LIBRARY;
        return loaded;
    }
    SqliteLibrary& l = loaded.library;
    std::string& why = loaded.why;
    loaded.ok = Resolve(handle, "sqlite3_open_v2", l.open_v2, why) &&
                Resolve(handle, "sqlite3_close_v2", l.close_v2, why) &&
                Resolve(handle, "sqlite3_busy_timeout", l.busy_timeout, why) &&
                Resolve(handle, "sqlite3_exec", l.exec, why) &&
                Resolve(handle, "sqlite3_prepare_v2", l.prepare_v2, why) &&
                Resolve(handle, "sqlite3_finalize", l.finalize, why) &&
                Resolve(handle, "sqlite3_bind_text", l.bind_text, why) &&
                Resolve(handle, "sqlite3_step", l.step, why) &&
                Resolve(handle, "sqlite3_column_int", l.column_int, why) &&
                Resolve(handle, "sqlite3_column_text", l.column_text, why) &&
                Resolve(handle, "sqlite3_column_bytes", l.column_bytes, why) &&
                Resolve(handle, "sqlite3_backup_init", l.backup_init, why) &&
                Resolve(handle, "sqlite3_backup_step", l.backup_step, why) &&
                Resolve(handle, "sqlite3_backup_finish", l.backup_finish, why) &&
                Resolve(handle, "sqlite3_sleep", l.sleep, why);
    return loaded;
}

}  // namespace

const SqliteLibrary* Sqlite(std::string* why) {
    static const Loaded loaded = Load();
    if (!loaded.ok && why != nullptr) *why = loaded.why;
    return loaded.ok ? &loaded.library : nullptr;
}

}  // namespace quorvel::posix
