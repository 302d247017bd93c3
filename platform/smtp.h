// Delivery of one message to an SMTP server, for the mail component
// stand-ins: a real SMTP client library on POSIX, Winsock on Windows.
#pragma once

#include <string>
#include <vector>

namespace quorvel::platform {

struct SmtpDelivery {
    std::string server;             // "host[:port]"; port 25 when none is given
    std::string user;               // AUTH when not empty
    std::string password;
    std::string from;               // envelope sender, without angle brackets
    std::vector<std::string> to;    // envelope recipients, without angle brackets
    std::string message;            // headers and body, lines ended by CR LF
};

enum class SmtpFailure {
    kNone,
    kConnect,    // no server, no connection, no greeting, a time-out
    kLogon,      // the server refused the user name or password
    kSender,     // MAIL FROM refused
    kRecipient,  // a RCPT TO refused
    kData,       // the message itself refused, or the dialogue broke off
};

struct SmtpResult {
    SmtpFailure failure = SmtpFailure::kNone;
    std::string detail;  // the server's answer or the client's reason
};

// Both clients refuse, before connecting, an envelope address that holds
// '<', '>', a blank or a control character: between the angle brackets of
// MAIL FROM or RCPT TO it could close them and add a parameter or another
// address of its own. The failure is kSender or kRecipient.
SmtpResult SendSmtp(const SmtpDelivery& delivery);

// That refusal, for the clients: the failure, or kNone for a sound envelope.
SmtpResult CheckEnvelope(const SmtpDelivery& delivery);

// The machine's mail relay, "host[:port]", where CDONTS delivers: the
// machine's [Mail] SmtpServer on POSIX, the value SmtpServer of
// HKLM\SOFTWARE\Quorvel\Mail on Windows; 127.0.0.1:25 when not set.
std::string MailRelay();

}  // namespace quorvel::platform
