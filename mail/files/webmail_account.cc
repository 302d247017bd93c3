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
    if (text.empty() || text.size() > 5) return 0;
    std::uint32_t port = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') return 0;
        port = port * 10 + static_cast<std::uint32_t>(c - u'0');
    }
    return port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

std::vector<size_t> TemporaryRecords(const UserList& list) {
    return list.FindAccount(kTemporaryAccount, kTemporaryAccount);
}

}  // namespace quorvel::mail
