// PostEmailDomain: one section per domain in the mail server's Domains.dat.
//
// The whole call holds the file in one profile transaction, so concurrent
// calls do not interleave and the six keys reach the disk together. A domain
// name holding CR, LF, NUL or "]", or an address holding CR, LF or NUL, would
// add sections or keys to the file: the call is refused with result 1 before
// anything is written. So is one holding a character the code page cannot
// hold: "a😀.com" would be written, and found, as the section "a??.com".
#include "mail/post_email_domain.h"

#include "base/ascii.h"
#include "component/frame/frame.h"
#include "support/find_file.h"
#include "support/profile.h"
#include "support/strings.h"

namespace quorvel::mail {
namespace {

constexpr std::int32_t kValueSize = 144;

constexpr char16_t kNoMailSoftware[] = u"，错误源：Mail软件 ，错误描述：Mail软件未安装或版本错误";
constexpr char16_t kDomainExists[] = u"，错误源：邮箱域名 ，错误描述：邮箱域名已经存在";
constexpr char16_t kNoSuchDomain[] = u"，错误源：邮箱域名 ，错误描述：邮箱域名不存在";
constexpr char16_t kUnsafeInput[] = u"，错误源：邮箱域名 ，错误描述：域名或IP地址含有不允许的字符";

const char16_t* YesNo(bool value) { return value ? u"Yes" : u"No"; }

bool ChangesDomains(const std::u16string& action) {
    return action == u"ADD" || action == u"EDIT" || action == u"DEL" || action == u"ISSEARCH";
}

}  // namespace

std::int32_t PostEmailDomain(std::u16string Action, std::u16string MailDir, std::u16string Domain,
                             std::u16string IPAddress, bool Bind, std::int32_t MaxInactive,
                             std::int32_t MaxMessageAge, std::int32_t MaxDeletedIMAPMessageAge, bool RecurseIMAP) {
    CallFrame frame(u"PostEmailDomain", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        const std::u16string file = MailDir + u"\\app\\Domains.dat";
        if (!FindsFile(file)) return frame.Detected(kPreconditionFailed, kNoMailSoftware);

        const std::u16string action = base::ToUpperAscii(Action);
        frame.Audit().About(action, Domain);
        if (ChangesDomains(action) && (!IsSafeProfileText(Domain, ProfileText::kSection) ||
                                       !IsSafeProfileText(IPAddress, ProfileText::kValue)))
            return frame.Detected(kPreconditionFailed, kUnsafeInput);

        ProfileTransaction transaction(file);
        const bool exists = !ReadIniValue(Domain, u"IP", kValueSize, file).empty();
        const std::u16string bind = YesNo(Bind);
        const std::u16string recurse = YesNo(RecurseIMAP);

        auto write_keys = [&] {
            frame.Step([&] { WriteIniValue(Domain, u"IP", IPAddress, file); });
            frame.Step([&] { WriteIniValue(Domain, u"Bind", bind, file); });
            frame.Step([&] { WriteIniValue(Domain, u"MaxInactive", Decimal(MaxInactive), file); });
            frame.Step([&] { WriteIniValue(Domain, u"MaxMessageAge", Decimal(MaxMessageAge), file); });
            frame.Step([&] {
                WriteIniValue(Domain, u"MaxDeletedIMAPMessageAge", Decimal(MaxDeletedIMAPMessageAge), file);
            });
            frame.Step([&] { WriteIniValue(Domain, u"RecurseIMAP", recurse, file); });
        };

        if (action == u"ADD") {
            if (exists) return frame.Detected(kAlreadyExists, kDomainExists);
            write_keys();
        } else if (action == u"EDIT") {
            if (!exists) return frame.Detected(kDoesNotExist, kNoSuchDomain);
            write_keys();
        } else if (action == u"DEL") {
            if (!exists) return frame.Detected(kDoesNotExist, kNoSuchDomain);
            frame.Step([&] { WriteIniSection(Domain, kNullMarker, file); });
        } else if (action == u"ISSEARCH") {
            if (!exists) return frame.Detected(kDoesNotExist, kNoSuchDomain);
        }

        frame.Step([&] { transaction.Commit(); });
        return frame.Finish();
    });
}

}  // namespace quorvel::mail
