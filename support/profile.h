// The profile-file (INI) routines the methods share, over the ANSI profile
// functions of profile/profile.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel {

// The value that stands for "no value": it removes a key or a whole section.
inline constexpr char16_t kNullMarker[] = u"0&";

// The value of a key, at most Size - 1 bytes of it in the system code page;
// empty for a missing file, section or key. A negative Size raises error 5.
std::u16string ReadIniValue(std::u16string_view section, std::u16string_view key, std::int32_t size,
                            std::u16string_view file);

// Visits the entries PREFIX FIRST, PREFIX FIRST+1... of a numbered list, each
// as ReadIniValue reads it with Size, up to the first blank one, at most
// PREFIX LAST (the same reads, in one pass), until `visit` returns false.
void ForEachIniListEntry(std::u16string_view section, std::u16string_view prefix, std::int32_t first,
                         std::int32_t last, std::int32_t size, std::u16string_view file,
                         const std::function<bool(std::int32_t number, const std::u16string& entry)>& visit);

// The whole value of a key, however long (ReadIniValue with a buffer that
// grows until the value fits).
std::u16string ReadWholeIniValue(std::u16string_view section, std::u16string_view key, std::u16string_view file);

// Whether ReadIniValue with this Size reads the text back whole: it takes at
// most Size - 1 bytes in the system code page.
bool FitsIniBuffer(std::u16string_view text, std::int32_t size);

// Creates or replaces the key; the null marker removes it. False when the
// platform call fails, or when a name or the value would break the file's
// structure (then nothing is written).
bool WriteIniValue(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                   std::u16string_view file);

// Replaces the keys of the section by Content (entries "key=value" separated
// by NUL characters); the null marker removes the section with all its keys.
bool WriteIniSection(std::u16string_view section, std::u16string_view content, std::u16string_view file);

// Closes the gap that deleting the key PREFIX(FIRST-1) left in a numbered
// list of the section: for N = FIRST..LAST, up to the first key PREFIX N that
// reads blank, PREFIX(N-1) takes its whole value and PREFIX N is deleted. A
// list of the usual shape is closed in one pass, any other one key by key
// (CloseIniGapKeyByKey); the bytes are the same either way. False when a
// change could not be made.
bool CloseIniGap(std::u16string_view section, std::u16string_view prefix, std::int32_t first, std::int32_t last,
                 std::u16string_view file);
bool CloseIniGapKeyByKey(std::u16string_view section, std::u16string_view prefix, std::int32_t first,
                         std::int32_t last, std::u16string_view file);

// What a text may hold to go into a profile file without changing its
// structure: no line break or NUL anywhere; no "]" in a section name; no "="
// in a key name nor "[" at its start; and no character the code page cannot
// hold, whose '?' could name another section or key or change a value.
enum class ProfileText { kSection, kKey, kValue };
bool IsSafeProfileText(std::u16string_view text, ProfileText kind);

// Holds one profile file for the whole of a call: locked against other calls,
// read once, and written once, atomically, with all of the call's changes.
// It is the ProfileTransaction of profile/profile.h as the methods take it:
// the file's name in UTF-16, and a commit that fails raises error 75.
class ProfileTransaction {
public:
    explicit ProfileTransaction(std::u16string_view file);
    ~ProfileTransaction();
    ProfileTransaction(const ProfileTransaction&) = delete;
    ProfileTransaction& operator=(const ProfileTransaction&) = delete;

    // Writes the changes; raises error 75 when they cannot be written.
    void Commit();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel
