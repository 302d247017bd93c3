#include "standins/mail_components.h"

#include "platform/smtp.h"
#include "platform/text.h"

namespace quorvel::standins {

using automation::Arguments;
using automation::Value;

Value JmailSmtpMail::AddRecipient(const Arguments& args) {
    recipients_.push_back(args.Text(0));
    return Value();
}

Value JmailSmtpMail::Execute(const Arguments&) {
    MailFields fields;
    fields.from = Text(u"Sender");
    fields.to = recipients_;
    fields.subject = Text(u"Subject");
    fields.body = Text(u"Body");
    fields.charset = Text(u"Charset");
    fields.content_type = Text(u"ContentType");
    fields.server = Text(u"ServerAddress");
    DeliverMail(fields, u"JMAIL.SmtpMail");
    return Value(true);
}

Value JmailMessage::AddRecipient(const Arguments& args) {
    recipients_.push_back(args.Text(0));
    return Value();
}

Value JmailMessage::Send(const Arguments& args) {
    MailFields fields;
    fields.from = Text(u"From");
    fields.to = recipients_;
    fields.subject = Text(u"Subject");
    fields.body = Text(u"Body");
    fields.charset = Text(u"Charset");
    fields.content_type = Text(u"ContentType");
    fields.priority = Number(u"Prority");
    fields.server = args.Text(0);
    fields.user = Text(u"MailServerUserName");
    fields.password = Text(u"MailServerPassword");
    DeliverMail(fields, u"JMAIL.Message");
    return Value(true);
}

Value JmailMessage::Close(const Arguments&) {
    Clear();
    recipients_.clear();
    return Value();
}

Value CdontsNewMail::Send(const Arguments&) {
    MailFields fields;
    fields.from = Text(u"From");
    const std::u16string to = Text(u"To");
    for (size_t start = 0; start <= to.size();) {
        size_t end = to.find(u';', start);
        if (end == std::u16string::npos) end = to.size();
        const std::u16string one = to.substr(start, end - start);
        if (one.find_first_not_of(u' ') != std::u16string::npos) fields.to.push_back(one);
        start = end + 1;
    }
    fields.subject = Text(u"Subject");
    fields.body = Text(u"Body");
    fields.server = platform::FromAnsi(platform::MailRelay());
    DeliverMail(fields, u"CDONTS.NewMail");
    // The object sends once; its fields are gone after.
    Clear();
    return Value();
}

}  // namespace quorvel::standins
