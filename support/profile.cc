#include "support/profile.h"

#include <optional>
#include <vector>

#include "automation/step_error.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "support/strings.h"

namespace quorvel {
namespace {

// A method names the same file in every call of a long sequence: its ANSI
// form is kept from one call to the next.
const std::string& AnsiFileName(std::u16string_view file) {
    thread_local std::u16string last_file;
    thread_local std::string last_ansi;
    if (file != last_file) {
        last_ansi = platform::ToAnsi(file);
        last_file = file;
    }
    return last_ansi;
}

// The whole value of a key, however long (a buffer that grows until the
// value fits); false when it is blank (empty or spaces only).
bool ReadWholeAnsiValue(const std::string& section, const std::string& key, const std::string& file,
                        std::string& value) {
    // A count of Size - 1 may be a value that was cut.
    for (std::uint32_t size = 256;; size *= 4) {
        const std::uint32_t count = profile::GetPrivateProfileString(section, key, size, file, value);
        if (count + 1 < size || size >= (1u << 28)) break;
    }
    return value.find_first_not_of(' ') != std::string::npos;
}

// The text in the code page when it may go into a profile file as `kind`.
std::optional<std::string> SafeProfileBytes(std::u16string_view text, ProfileText kind) {
    if (text.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos) return std::nullopt;
    switch (kind) {
        case ProfileText::kSection:
            if (text.find(u']') != std::u16string_view::npos) return std::nullopt;
            break;
        case ProfileText::kKey: {
            const size_t first = text.find_first_not_of(u" \t");
            if (text.find(u'=') != std::u16string_view::npos || (first != std::u16string_view::npos && text[first] == u'['))
                return std::nullopt;
            break;
        }
        case ProfileText::kValue:
            break;
    }
    return platform::TryToAnsi(text);
}

}  // namespace

bool IsSafeProfileText(std::u16string_view text, ProfileText kind) { return SafeProfileBytes(text, kind).has_value(); }

std::u16string ReadIniValue(std::u16string_view section, std::u16string_view key, std::int32_t size,
                            std::u16string_view file) {
    if (size < 0) Raise(kInvalidCall);
    std::string value;
    profile::GetPrivateProfileString(platform::ToAnsi(section), platform::ToAnsi(key),
                                      static_cast<std::uint32_t>(size), AnsiFileName(file), value);
    return platform::FromAnsi(value);
}

void ForEachIniListEntry(std::u16string_view section, std::u16string_view prefix, std::int32_t first,
                         std::int32_t last, std::int32_t size, std::u16string_view file,
                         const std::function<bool(std::int32_t number, const std::u16string& entry)>& visit) {
    if (size < 0) Raise(kInvalidCall);
    if (first < 0 || last < first) return;
    std::int32_t number = first;
    profile::ForEachNumberedValue(
        platform::ToAnsi(section), platform::ToAnsi(prefix), static_cast<std::uint32_t>(first),
        static_cast<std::uint32_t>(last), static_cast<std::uint32_t>(size),
        [&](const std::string& value) {
            const std::u16string entry = platform::FromAnsi(value);
            return !IsBlank(entry) && visit(number++, entry);
        },
        AnsiFileName(file));
}

std::u16string ReadWholeIniValue(std::u16string_view section, std::u16string_view key, std::u16string_view file) {
    std::string value;
    ReadWholeAnsiValue(platform::ToAnsi(section), platform::ToAnsi(key), AnsiFileName(file), value);
    return platform::FromAnsi(value);
}

bool FitsIniBuffer(std::u16string_view text, std::int32_t size) {
    return size > 0 && platform::ToAnsi(text).size() < static_cast<size_t>(size);
}

bool WriteIniValue(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                   std::u16string_view file) {
    const std::optional<std::string> ansi_section = SafeProfileBytes(section, ProfileText::kSection);
    const std::optional<std::string> ansi_key = SafeProfileBytes(key, ProfileText::kKey);
    if (!ansi_section || !ansi_key) return false;
    if (value == kNullMarker) return profile::WritePrivateProfileString(*ansi_section, *ansi_key, std::nullopt, AnsiFileName(file));
    const std::optional<std::string> ansi_value = SafeProfileBytes(value, ProfileText::kValue);
    return ansi_value && profile::WritePrivateProfileString(*ansi_section, *ansi_key, *ansi_value, AnsiFileName(file));
}

bool WriteIniSection(std::u16string_view section, std::u16string_view content, std::u16string_view file) {
    const bool remove = content == kNullMarker;
    if (!IsSafeProfileText(section, ProfileText::kSection)) return false;
    std::optional<std::string> ansi_content;
    if (!remove) {
        // Entries are separated by NUL; none of them may hold a line break.
        if (content.find_first_of(u"\r\n") != std::u16string_view::npos || !FitsCodePage(content)) return false;
        ansi_content = platform::ToAnsi(content);
    }
    return profile::WritePrivateProfileSection(
        platform::ToAnsi(section), ansi_content ? std::optional<std::string_view>(*ansi_content) : std::nullopt,
        AnsiFileName(file));
}

bool CloseIniGapKeyByKey(std::u16string_view section, std::u16string_view prefix, std::int32_t first,
                         std::int32_t last, std::u16string_view file) {
    // The values move as the bytes they are: one the code page cannot hold,
    // or one that reads as the null marker, would otherwise be dropped.
    const std::string ansi_section = platform::ToAnsi(section), ansi_prefix = platform::ToAnsi(prefix);
    const std::string& ansi_file = AnsiFileName(file);
    std::string value;
    for (std::int32_t n = first; n <= last; ++n) {
        if (!ReadWholeAnsiValue(ansi_section, ansi_prefix + std::to_string(n), ansi_file, value)) break;
        if (!profile::WritePrivateProfileString(ansi_section, ansi_prefix + std::to_string(n - 1), value, ansi_file) ||
            !profile::WritePrivateProfileString(ansi_section, ansi_prefix + std::to_string(n), std::nullopt, ansi_file))
            return false;
    }
    return true;
}

bool CloseIniGap(std::u16string_view section, std::u16string_view prefix, std::int32_t first, std::int32_t last,
                 std::u16string_view file) {
    if (!IsSafeProfileText(section, ProfileText::kSection) || !IsSafeProfileText(prefix, ProfileText::kKey)) return false;
    if (first >= 1 && last >= first) {
        switch (profile::CloseNumberedGap(platform::ToAnsi(section), platform::ToAnsi(prefix),
                                          static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last),
                                          AnsiFileName(file))) {
            case profile::GapClose::kClosed: return true;
            case profile::GapClose::kFailed: return false;
            case profile::GapClose::kIrregular: break;
        }
    }
    return CloseIniGapKeyByKey(section, prefix, first, last, file);
}

struct ProfileTransaction::Impl {
    explicit Impl(std::u16string_view file) : transaction(platform::ToAnsi(file)) {}
    profile::ProfileTransaction transaction;
};

ProfileTransaction::ProfileTransaction(std::u16string_view file) : impl_(std::make_unique<Impl>(file)) {}

ProfileTransaction::~ProfileTransaction() = default;

void ProfileTransaction::Commit() {
    if (!impl_->transaction.Commit()) Raise(kPathFileAccess);
}

}  // namespace quorvel
