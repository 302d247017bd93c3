// Small string routines the methods share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// A number in decimal, with a leading "-" when negative.
std::u16string Decimal(std::int64_t number);

// Every item between separators, empty ones and blanks kept.
std::vector<std::u16string> Split(std::u16string_view text, char16_t separator);

// Empty or only spaces.
bool IsBlank(std::u16string_view text);

// Whether every character has a form of its own in the system code page.
// Text that goes into a file, a record, a form or a command line must, or it
// would arrive there with '?' in place of what it held.
bool FitsCodePage(std::u16string_view text);

// Without leading and trailing spaces.
std::u16string_view TrimSpaces(std::u16string_view text);

// The value of one to nine decimal digits and nothing else; nullopt for
// anything else (a sign, a blank, an empty text).
std::optional<std::int64_t> DecimalDigits(std::string_view text);
std::optional<std::int64_t> DecimalDigits(std::u16string_view text);

// A TCP port from 0 (any free one) to 65535, in decimal digits alone; -1 for
// anything else.
int ParsePort(std::string_view text);

}  // namespace quorvel
