// SendMail: one message through the mail component chosen by Sign.
//
// Every creation, property write and call is a step: a failing one is
// skipped and the next runs, so a component that is not installed makes the
// creation fail (429) and every later step fail on the missing object (91);
// the result is the number of the last failure.
#include "sendmail/send_mail.h"

#include <new>

#include "automation/objects.h"
#include "automation/step_error.h"

namespace quorvel::sendmail {
namespace {

class Steps {
public:
    template <typename Action>
    void operator()(Action&& action) {
        try {
            action();
        } catch (const StepError& error) {
            last_error_ = error.number;
        } catch (const std::bad_alloc&) {
            last_error_ = kOutOfMemory;
        } catch (...) {
            last_error_ = kInternalError;
        }
    }
    std::int32_t last_error() const { return last_error_; }

private:
    std::int32_t last_error_ = 0;
};

constexpr char16_t kCharset[] = u"GB2312";
constexpr char16_t kContentType[] = u"text/html";

}  // namespace

std::int32_t SendMail(std::int32_t Sign, std::u16string MailFrom, std::u16string MailTo, std::u16string MailSubject,
                      std::u16string MailBody, std::u16string MailServerUserName,
                      std::u16string MailServerPassword, std::u16string MailServerIp) {
    Steps step;
    automation::Object mail;
    switch (Sign) {
        case 0:
            step([&] { mail = automation::CreateObject(u"JMAIL.SmtpMail"); });
            step([&] { mail.Put(u"silent", true); });
            step([&] { mail.Put(u"Charset", kCharset); });
            step([&] { mail.Put(u"ContentType", kContentType); });
            step([&] { mail.Call(u"AddRecipient", {MailTo}); });
            step([&] { mail.Put(u"Sender", MailFrom); });
            step([&] { mail.Put(u"Subject", MailSubject); });
            step([&] { mail.Put(u"Body", MailBody); });
            step([&] { mail.Put(u"ServerAddress", MailServerIp); });
            step([&] { mail.Call(u"Execute"); });
            break;
        case 1:
            step([&] { mail = automation::CreateObject(u"JMAIL.Message"); });
            step([&] { mail.Put(u"silent", true); });
            step([&] { mail.Put(u"Charset", kCharset); });
            step([&] { mail.Put(u"ContentType", kContentType); });
            step([&] { mail.Call(u"AddRecipient", {MailTo}); });
            step([&] { mail.Put(u"From", MailFrom); });
            step([&] { mail.Put(u"MailServerUserName", MailServerUserName); });
            step([&] { mail.Put(u"MailServerPassword", MailServerPassword); });
            step([&] { mail.Put(u"Subject", MailSubject); });
            step([&] { mail.Put(u"Body", MailBody); });
            step([&] { mail.Put(u"Prority", std::int16_t{1}); });
            step([&] { mail.Call(u"Send", {MailServerIp}); });
            step([&] { mail.Call(u"Close"); });
            break;
        case 2:
            step([&] { mail = automation::CreateObject(u"CDONTS.NewMail"); });
            step([&] { mail.Put(u"To", MailTo); });
            step([&] { mail.Put(u"From", MailFrom); });
            step([&] { mail.Put(u"Subject", MailSubject); });
            step([&] { mail.Put(u"Body", MailBody); });
            step([&] { mail.Call(u"Send"); });
            break;
        default:
            break;
    }
    mail.Release();
    return step.last_error();
}

}  // namespace quorvel::sendmail
