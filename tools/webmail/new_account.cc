#include "tools/webmail/new_account.h"

#include <map>
#include <optional>

#include "automation/step_error.h"
#include "base/ascii.h"
#include "mail/files/paths.h"
#include "mail/files/user_list.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "support/md5.h"
#include "support/profile.h"
#include "support/strings.h"

namespace quorvel::webmail {
namespace {

constexpr char16_t kSettingsSection[] = u"Default:Settings";
constexpr std::int32_t kValueSize = 255;

// Percent-decoding, "+" as a blank; nullopt for a broken escape.
std::optional<std::string> Decode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = base::HexDigitValue(text[i + 1]), low = base::HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The form's fields; nullopt when the body is not a form or names a field twice.
std::optional<std::map<std::string, std::u16string>> ParseForm(std::string_view body) {
    std::map<std::string, std::u16string> fields;
    while (!body.empty()) {
        const size_t amp = body.find('&');
        const std::string_view item = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        const auto name = Decode(item.substr(0, eq));
        const auto value = Decode(item.substr(eq + 1));
        if (!name || !value) return std::nullopt;
        if (!fields.emplace(*name, platform::FromAnsi(*value)).second) return std::nullopt;
    }
    return fields;
}

std::string Page(std::string_view title, std::string_view text) {
    return "<html><head><title>" + std::string(title) + "</title></head><body><p>" + std::string(text) +
           "</p></body></html>\n";
}

Answer Refused(std::string_view why) { return {false, Page("Error", why)}; }

bool IsYes(std::u16string_view value) { return base::ToUpperAscii(TrimSpaces(value)) == u"YES"; }

}  // namespace

std::u16string StoredForm(std::u16string_view password) {
    return base::ToUpperAscii(Md5Hex(u"webmail:" + std::u16string(password))).substr(0, mail::kPasswordWidth);
}

std::u16string DefaultDomain(std::u16string_view mail_dir) {
    const std::u16string domain =
        std::u16string(TrimSpaces(ReadIniValue(kSettingsSection, u"DefaultDomain", kValueSize,
                                               mail::WebmailSettingsPath(mail_dir))));
    return domain.empty() ? u"localhost" : domain;
}

Answer NewAccount(std::string_view mail_dir_ansi, std::string_view body) {
    const std::u16string mail_dir = platform::FromAnsi(mail_dir_ansi);
    // Read at every request, as the switch is turned on and off between them.
    if (!IsYes(ReadIniValue(kSettingsSection, u"NewAccountCreation", kValueSize, mail::WebmailSettingsPath(mail_dir))))
        return Refused("Account creation is not allowed.");

    const auto form = ParseForm(body);
    if (!form) return Refused("The form is malformed.");
    auto field = [&](const char* name) -> std::optional<std::u16string> {
        const auto it = form->find(name);
        if (it == form->end()) return std::nullopt;
        return it->second;
    };
    const auto view = field("View"), finished = field("Finished"), user = field("User"), full_name = field("FullName"),
               pass = field("Pass"), confirm = field("ConfirmPass");
    if (!view || *view != u"NewUser" || !finished || *finished != u"Yes" || !user || user->empty() || !full_name ||
        !pass || !confirm)
        return Refused("The form is malformed.");
    if (*pass != *confirm) return Refused("The passwords do not match.");

    mail::Mailbox box;
    box.domain = DefaultDomain(mail_dir);
    box.mailbox = *user;
    box.real_name = *full_name;
    box.folder = mail::MailboxFolder(mail_dir, box.domain, box.mailbox);
    if (!mail::FitsField(box.folder, mail::kFolderWidth)) box.folder.clear();  // a deep test folder
    box.password = StoredForm(*pass);
    const auto record = mail::BuildRecord(box);
    if (!record) return Refused("A field is too long or holds a line break.");

    const std::string line = platform::ToAnsi(*record);
    try {
        const mail::HeldUserList held(platform::ToAnsi(mail::UserListPath(mail_dir)),
                                      mail::HeldUserList::IfMissing::kEmpty);
        const mail::UserList& list = held.list();
        if (list.FindLast(mail::LookupKey(box.domain, box.mailbox))) return Refused("The account exists already.");
        held.Replace(list.Rewrite(mail::UserList::Change::kAppend, 0, line));
    } catch (const StepError&) {
        return Refused("The user list cannot be locked, read or written.");
    }
    return {true, Page("Account created", "The account has been created.")};
}

}  // namespace quorvel::webmail
