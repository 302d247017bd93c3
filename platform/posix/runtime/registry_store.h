// The registry of the POSIX machine: HKEY_CLASSES_ROOT kept in an SQLite
// database in the machine folder, shared by the host and every loaded
// component. Key paths are relative to HKEY_CLASSES_ROOT and separated by
// '\'; key and value names match without regard to (ASCII) case, as on
// Windows; an empty value name is the key's default value. Text is UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::posix::registry {

// The database file; in the machine folder unless a test names another.
std::filesystem::path StorePath();

// Creates the key and its parents as needed. False when the store cannot be
// written.
bool SetValue(std::string_view key, std::string_view name, std::string_view value);

// nullopt when the key or the value does not exist (or the store cannot be read).
std::optional<std::string> GetValue(std::string_view key, std::string_view name);

// One state of the store: equal versions mean that nothing was committed
// in between, by this process or another. nullopt when that cannot be told
// (no store yet); answers kept in memory must then be read again.
//
// Between looks at the file, asking costs no system call: the store's
// generation (registry.db-generation, beside it) tells whether anything was
// committed through this store, by any process, since the last look. A change
// made by other means (another SQLite connection, the file replaced by hand)
// is seen at the next look: after the next commit through the store, or
// after LookAtFileAgain().
struct Version {
    std::uint64_t folder = 0;  // the machine folder's generation
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtime_sec = 0;
    std::int64_t mtime_nsec = 0;
    std::uint32_t counter = 0;

    bool operator==(const Version&) const = default;
};
std::optional<Version> CurrentVersion();

// The next answer looks at the file again. Every call of the component asks
// for this when it begins, so that a change made by other means is seen by
// the next call.
void LookAtFileAgain();
// How often LookAtFileAgain() was asked for: what a process keeps for the
// length of one call is kept under it.
std::uint64_t LookAgainCount();

bool KeyExists(std::string_view key);

// Removes the key with its values and all keys below it. True also when the
// key was missing; false when the store cannot be written.
bool DeleteTree(std::string_view key);

// Every key of the store, as first written, in order of their paths.
std::vector<std::string> AllKeys();

}  // namespace quorvel::posix::registry
