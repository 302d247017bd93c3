// The Win32 profile-file (INI) functions, ANSI side. Every string is in the
// system code page; `file` is a path as the component builds it (Windows form).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::profile {

// GetPrivateProfileStringA with a null default and a buffer of `size` bytes:
// `value` receives the bytes copied (without the terminating zero), which are
// also counted by the result.
uint32_t GetPrivateProfileString(std::string_view section, std::string_view key, uint32_t size,
                                 std::string_view file, std::string& value);

// WritePrivateProfileStringA; no value deletes the key.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, std::string_view file);

// WritePrivateProfileSectionA; `content` holds the entries separated by NUL
// bytes (a trailing NUL is allowed); no content deletes the section.
bool WritePrivateProfileSection(std::string_view section, std::optional<std::string_view> content,
                                std::string_view file);

// Told of each key that this thread's profile calls changed, once the change
// is on disk: at a transaction's commit, or right after a write outside one.
// `file` is the name the caller gave, `section` and `key` as written (a
// deleted section's keys as the file spelled them), and the values as the
// file holds them before and after (nullopt: no such key). A key written and
// then written back within one transaction is not reported. For the audit
// trail of the call frame.
class ChangeObserver {
public:
    virtual void KeyChanged(std::string_view file, std::string_view section, std::string_view key,
                            const std::optional<std::string_view>& before,
                            const std::optional<std::string_view>& after) = 0;
    // The keys PREFIX FIRST..LAST of the section took the numbers one lower,
    // each with its value (CloseNumberedGap): PREFIX LAST is gone.
    virtual void KeysRenumbered(std::string_view file, std::string_view section, std::string_view prefix,
                                uint32_t first, uint32_t last) = 0;

protected:
    ~ChangeObserver() = default;
};

// Installs `observer` for this thread's calls (nullptr: none) and returns the
// one it replaces. Without one, the calls look at nothing more.
ChangeObserver* ObserveChanges(ChangeObserver* observer);

// Visits the values of the keys PREFIX FIRST, PREFIX FIRST+1... of the
// section as GetPrivateProfileString reads each with a buffer of `size`
// bytes, up to the first that reads blank (nothing, or spaces only), at most
// PREFIX LAST, until `visit` returns false.
void ForEachNumberedValue(std::string_view section, std::string_view prefix, uint32_t first, uint32_t last,
                          uint32_t size, const std::function<bool(const std::string&)>& visit, std::string_view file);

// Closes the gap that deleting PREFIX(FIRST-1) left in a numbered list of
// the section in one pass, with the bytes that these calls leave: for N =
// FIRST..LAST, up to the first key PREFIX N that is missing, write PREFIX(N-1)
// = its value and delete PREFIX N (ProfileEngine::CloseNumberedGap says which
// lists qualify). kIrregular: the list does not qualify and nothing was changed,
// the caller makes the calls; kFailed: the change could not be made.
enum class GapClose { kClosed, kIrregular, kFailed };
GapClose CloseNumberedGap(std::string_view section, std::string_view prefix, uint32_t first, uint32_t last,
                          std::string_view file);

// One call's whole read-modify-write of one profile file. While it lives, the
// file is locked against other threads and processes; the profile calls that
// this thread makes on that file share one copy of it, and their changes reach
// the disk together, atomically, at Commit (or when the transaction ends). Until
// then other readers see the file as it was; a crash leaves it as it was.
class ProfileTransaction {
public:
    explicit ProfileTransaction(std::string_view file);
    ~ProfileTransaction();
    ProfileTransaction(const ProfileTransaction&) = delete;
    ProfileTransaction& operator=(const ProfileTransaction&) = delete;

    // False when the lock could not be taken (on Windows, after 30 seconds):
    // the calls then read the file as it is, but every change is refused and
    // Commit fails.
    bool locked() const;
    // Writes the changes made so far; false when they could not be written
    // (or were refused).
    bool Commit();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel::profile
