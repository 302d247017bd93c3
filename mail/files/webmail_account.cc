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

std::u16string PortSetting(std::u16string_view settings) {
    return std::u16string(TrimSpaces(ReadIniValue(kSettingsSection, u"Port", kValueSize, settings)));
}

std::uint16_t PortNumber(std::u16string_view text) {
    text = TrimSpaces(text);
    if (text.size() > 5) return 0;
    const std::optional<std::int64_t> port = DecimalDigits(text);
    return port && *port <= 65535 ? static_cast<std::uint16_t>(*port) : 0;
}

std::vector<size_t> TemporaryRecords(const UserList& list) {
    return list.FindAccount(kTemporaryAccount, kTemporaryAccount);
}

}  // namespace quorvel::mail
