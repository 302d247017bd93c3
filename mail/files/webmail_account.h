// The webmail server's new-account form as the mailbox calls use it: the
// temporary account they have it create, and the settings' switch that lets
// it create accounts. What a call that died in the middle of a lookup
// leaves (the switch on, the account's records in the user list) is put
// right with these by the next mailbox call and by quorvel doctor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/files/user_list.h"

namespace quorvel::mail {

// The temporary account the webmail server is asked to create.
inline constexpr char16_t kTemporaryAccount[] = u"Quorvel";

// The switch in the webmail settings (WebmailSettingsPath).
inline constexpr char16_t kSettingsSection[] = u"Default:Settings";
inline constexpr char16_t kCreationKey[] = u"NewAccountCreation";

// The switch as the settings hold it, without its blanks; empty when unset.
std::u16string CreationSetting(std::u16string_view settings);
// Writes "Yes" or "No"; false when it cannot be written.
bool WriteCreation(bool on, std::u16string_view settings);

// The port the webmail server answers at, as the settings hold it, without
// its blanks; and that text as a port number: a whole number from 1 to
// 65535, 0 for anything else.
std::u16string PortSetting(std::u16string_view settings);
std::uint16_t PortNumber(std::u16string_view text);

// The temporary account's records: those whose mailbox and full-name fields
// both hold its name, wherever they stand, in order.
std::vector<size_t> TemporaryRecords(const UserList& list);

}  // namespace quorvel::mail
