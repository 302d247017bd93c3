#include "mail/files/webmail_account.h"

#include "support/profile.h"
#include "support/strings.h"

namespace quorvel::mail {
namespace {

constexpr std::int32_t kValueSize = 255;

}  // namespace

std::u16string CreationSetting(std::u16string_view settings) {
    return std::u16string(TrimSpaces(ReadIniValue(kSettingsSection, kCreationKey, kValueSize, settings)));
}

bool WriteCreation(bool on, std::u16string_view settings) {
    return WriteIniValue(kSettingsSection, kCreationKey, on ? u"Yes" : u"No", settings);
}

std::vector<size_t> TemporaryRecords(const UserList& list) {
    return list.FindAccount(kTemporaryAccount, kTemporaryAccount);
}

}  // namespace quorvel::mail
