// The fields of an audit-trail line: how a text is escaped so that the line
// stays one line in the code page, and read back. The call frame writes the
// trail and quorvel doctor reads it and adds its repairs, so both keep to
// these.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The two words of a value field: absent, and a secret.
inline constexpr char16_t kAuditAbsent[] = u"-";
inline constexpr char16_t kAuditSecret[] = u"***";
// The item of a numbered list of a profile file closed up in one pass; NEW is
// "SECTION|PREFIX|FIRST|LAST": the keys PREFIX FIRST..LAST took the numbers
// one lower.
inline constexpr char16_t kRenumberItem[] = u"Renumber()";

// The escapes of a text that are ASCII: "%", controls, and "|" in a list
// element. The code page's turn comes after (AuditFieldOfEscaped).
std::u16string EscapeAuditAscii(std::u16string_view text, bool in_list);

// An escaped text in the code page; a character it cannot hold as %uXXXX.
std::string AuditFieldOfEscaped(std::u16string_view escaped);

// A text as a field of the line.
std::string AuditField(std::u16string_view text);

// A value field that reads as one of the two words has its first character escaped.
std::string UnambiguousAuditValue(std::string field);

// The escapes of a field replaced; "%7C" too unless `keep_list_bar` (a list
// is split at "|" before its elements' "%7C" are replaced).
std::u16string UnescapeAuditField(std::u16string_view field, bool keep_list_bar);

// A list value's elements, read with UnescapeAuditField(field, true): split
// at "|", each element's "%7C" then replaced.
std::vector<std::u16string> SplitAuditList(std::u16string_view text);

// Whether an item holds a secret: its name ("KEY" of "[SECTION]KEY", or a
// method's name) holds "pass" in any letter case.
template <typename Char>
bool IsSecretAuditItem(std::basic_string_view<Char> item) {
    if (!item.empty() && item[0] == Char('[')) {
        const size_t close = item.find(Char(']'));
        if (close != std::basic_string_view<Char>::npos) item.remove_prefix(close + 1);
    }
    static constexpr char kPass[] = "pass";
    for (size_t i = 0; i + 4 <= item.size(); ++i) {
        size_t k = 0;
        while (k < 4 && (item[i + k] | 0x20) == kPass[k]) ++k;
        if (k == 4) return true;
    }
    return false;
}

}  // namespace quorvel
