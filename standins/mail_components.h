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

    platform::Value AddRecipient(const platform::Arguments& args);
    // Sends to ServerAddress ("host[:port]"); True when sent.
    platform::Value Execute(const platform::Arguments&);

private:
    std::vector<std::u16string> recipients_;
};

class JmailMessage final : public MailObject<JmailMessage, idl::IJmailMessage> {
public:
    static constexpr const char16_t* kProperties[] = {
        u"silent",  u"Charset", u"ContentType", u"From",   u"MailServerUserName", u"MailServerPassword",
        u"Subject", u"Body",    u"Prority"};

    platform::Value AddRecipient(const platform::Arguments& args);
    // Send(server): with AUTH when MailServerUserName is set; True when sent.
    platform::Value Send(const platform::Arguments& args);
    // Forgets the message.
    platform::Value Close(const platform::Arguments&);

private:
    std::vector<std::u16string> recipients_;
};

class CdontsNewMail final : public MailObject<CdontsNewMail, idl::ICdontsNewMail> {
public:
    static constexpr const char16_t* kProperties[] = {u"To", u"From", u"Subject", u"Body"};
    // Sends plain text to the machine's mail relay; "To" may hold several
    // addresses separated by ";".
    platform::Value Send(const platform::Arguments&);
};

}  // namespace quorvel::standins
