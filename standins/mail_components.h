// The mail components a server may have installed, with exactly the members
// the component uses: JMail's SMTP object ("JMAIL.SmtpMail") and message
// object ("JMAIL.Message"), and the CDONTS new-mail object ("CDONTS.NewMail").
// Each sends one message over SMTP when told to; a message that is not
// delivered raises an error with a number and a description, "silent" or not.
#pragma once

#include <string>
#include <vector>

#include "standins/mail.h"

namespace quorvel::standins {

class JmailSmtpMail final : public MailObject<JmailSmtpMail, idl::IJmailSmtpMail> {
public:
    static constexpr const char16_t* kProperties[] = {u"silent",  u"Charset", u"ContentType",  u"Sender",
                                                      u"Subject", u"Body",    u"ServerAddress"};

    automation::Value AddRecipient(const automation::Arguments& args);
    // Sends to ServerAddress ("host[:port]"); True when sent.
    automation::Value Execute(const automation::Arguments&);

private:
    std::vector<std::u16string> recipients_;
};

class JmailMessage final : public MailObject<JmailMessage, idl::IJmailMessage> {
public:
    static constexpr const char16_t* kProperties[] = {
        u"silent",  u"Charset", u"ContentType", u"From",   u"MailServerUserName", u"MailServerPassword",
        u"Subject", u"Body",    u"Prority"};

    automation::Value AddRecipient(const automation::Arguments& args);
    // Send(server): with AUTH when MailServerUserName is set; True when sent.
    automation::Value Send(const automation::Arguments& args);
    // Forgets the message.
    automation::Value Close(const automation::Arguments&);

private:
    std::vector<std::u16string> recipients_;
};

class CdontsNewMail final : public MailObject<CdontsNewMail, idl::ICdontsNewMail> {
public:
    static constexpr const char16_t* kProperties[] = {u"To", u"From", u"Subject", u"Body"};
    // Sends plain text to the machine's mail relay; "To" may hold several
    // addresses separated by ";".
    automation::Value Send(const automation::Arguments&);
};

}  // namespace quorvel::standins
