// The profile functions as the ANSI API takes them, null pointers included:
// a null section lists the sections, a null key lists a section's keys (each
// name followed by a NUL in `value`); a null key on a write deletes the
// section; a null section makes a write fail. The functions of
// profile/profile.h are built on these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::profile {

using ProfileName = std::optional<std::string_view>;

uint32_t ProfileGetString(ProfileName section, ProfileName key, uint32_t size, std::string_view file,
                          std::string& value);
bool ProfileWriteString(ProfileName section, ProfileName key, ProfileName value, std::string_view file);
bool ProfileWriteSection(ProfileName section, ProfileName content, std::string_view file);

}  // namespace quorvel::profile
