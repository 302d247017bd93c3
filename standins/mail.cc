#include "standins/mail.h"

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <optional>

#include "automation/step_error.h"
#include "platform/base64.h"
#include "platform/smtp.h"
#include "platform/text.h"

namespace quorvel::standins {
namespace {

// The numbers a client sees, those of the system's SMTP transport.
constexpr std::int32_t kUnsafeField = static_cast<std::int32_t>(0x8004020Du);
constexpr std::int32_t kNoRecipient = static_cast<std::int32_t>(0x8004020Cu);
constexpr std::int32_t kSenderRefused = static_cast<std::int32_t>(0x8004020Eu);
constexpr std::int32_t kRecipientRefused = static_cast<std::int32_t>(0x8004020Fu);
constexpr std::int32_t kNotSent = static_cast<std::int32_t>(0x80040211u);
constexpr std::int32_t kNoConnection = static_cast<std::int32_t>(0x80040213u);
constexpr std::int32_t kLogonRefused = static_cast<std::int32_t>(0x80040217u);

bool HasLineBreak(std::u16string_view text) { return text.find_first_of(u"\r\n") != std::u16string_view::npos; }

bool IsAscii(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool IsBracketOrBlank(char16_t c) { return c <= u' ' || c == 0x7F || c == u'<' || c == u'>'; }

std::u16string_view TrimBlanks(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    return text;
}

// "Name <box@host>" -> "box@host"; a bare address as it is. Nothing for any
// other form (a name holding '<', '>' or '@' included), for an address
// holding '<', '>', a blank or a control character (in the envelope it could
// close the angle brackets and add a parameter or an address of its own),
// and for a text the code page cannot hold.
std::optional<std::string> Envelope(std::u16string_view text) {
    std::u16string_view address = TrimBlanks(text);
    if (!address.empty() && address.back() == u'>') {
        const size_t open = address.rfind(u'<');
        if (open == std::u16string_view::npos) return std::nullopt;
        // A name that holds an address of its own reads as two.
        if (address.substr(0, open).find_first_of(u"<>@") != std::u16string_view::npos) return std::nullopt;
        address = TrimBlanks(address.substr(open + 1, address.size() - open - 2));
    }
    for (const char16_t c : address)
        if (IsBracketOrBlank(c)) return std::nullopt;
    if (!platform::TryToAnsi(text)) return std::nullopt;
    return platform::ToAnsi(address);
}

std::string Charset(const MailFields& fields) {
    return fields.charset.empty() ? std::string("GB2312") : platform::ToAnsi(fields.charset);
}

// A header text outside ASCII becomes one encoded word.
std::string HeaderText(std::u16string_view text, const std::string& charset) {
    const std::string bytes = platform::ToAnsi(text);
    if (IsAscii(bytes)) return bytes;
    return "=?" + charset + "?B?" + platform::Base64(bytes) + "?=";
}

// Lines ended by CR LF, whatever they were ended by.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

bool HasLongLine(std::string_view text) {
    size_t run = 0;
    for (char c : text) {
        run = c == '\n' ? 0 : run + 1;
        if (run > 998) return true;
    }
    return false;
}

std::string DateNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd(day);
    const hh_mm_ss time(now - day);
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof(text), "%s, %02u %s %d %02d:%02d:%02d +0000", kDays[weekday(day).c_encoding()],
                  static_cast<unsigned>(ymd.day()), kMonths[static_cast<unsigned>(ymd.month()) - 1],
                  static_cast<int>(ymd.year()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return text;
}

[[noreturn]] void Refuse(std::int32_t number, std::u16string_view source, std::u16string description,
                         const std::string& detail = {}) {
    if (!detail.empty()) description += u"服务器的回答：" + platform::FromAnsi(detail);
    throw StepError(number, std::u16string(source), std::move(description));
}

}  // namespace

std::string ComposeMail(const MailFields& fields, std::string_view date) {
    const std::string charset = Charset(fields);
    std::string to;
    for (const auto& address : fields.to) to += (to.empty() ? "" : ", ") + HeaderText(address, charset);
    const std::string type = fields.content_type.empty() ? "text/plain" : platform::ToAnsi(fields.content_type);
    std::string body = WithCrLf(platform::ToAnsi(fields.body));
    const bool encode = !IsAscii(body) || HasLongLine(body);

    std::string message;
    message += "Date: " + std::string(date) + "\r\n";
    message += "From: " + HeaderText(fields.from, charset) + "\r\n";
    message += "To: " + to + "\r\n";
    message += "Subject: " + HeaderText(fields.subject, charset) + "\r\n";
    message += "MIME-Version: 1.0\r\n";
    message += "Content-Type: " + type + "; charset=\"" + charset + "\"\r\n";
    message += std::string("Content-Transfer-Encoding: ") + (encode ? "base64" : "7bit") + "\r\n";
    if (fields.priority >= 1 && fields.priority <= 5) message += "X-Priority: " + std::to_string(fields.priority) + "\r\n";
    message += "\r\n";
    if (encode) {
        const std::string coded = platform::Base64(body);
        for (size_t i = 0; i < coded.size(); i += 76) message += coded.substr(i, 76) + "\r\n";
    } else {
        message += body;
        if (!body.empty() && !body.ends_with("\r\n")) message += "\r\n";
    }
    return message;
}

void DeliverMail(const MailFields& fields, std::u16string_view source) {
    bool unsafe = HasLineBreak(fields.from) || HasLineBreak(fields.subject);
    for (const auto& to : fields.to) unsafe = unsafe || HasLineBreak(to);
    if (unsafe) Refuse(kUnsafeField, source, u"发件人、收件人或主题含有回车或换行符，邮件未发送。");
    if (fields.to.empty()) Refuse(kNoRecipient, source, u"至少需要一个收件人，邮件未发送。");

    platform::SmtpDelivery delivery;
    const auto from = Envelope(fields.from);
    if (!from) Refuse(kSenderRefused, source, u"发件人地址无效，邮件未发送。");
    delivery.from = *from;
    for (const auto& to : fields.to) {
        const auto recipient = Envelope(to);
        if (!recipient) Refuse(kRecipientRefused, source, u"收件人地址无效，邮件未发送。");
        delivery.to.push_back(*recipient);
    }
    for (const std::u16string* text : {&fields.subject, &fields.body, &fields.charset, &fields.content_type,
                                       &fields.server, &fields.user, &fields.password})
        if (!platform::TryToAnsi(*text))
            Refuse(kUnsafeField, source, u"主题、正文或服务器设置含有系统代码页不能表示的字符，邮件未发送。");
    delivery.server = platform::ToAnsi(fields.server);
    delivery.user = platform::ToAnsi(fields.user);
    delivery.password = platform::ToAnsi(fields.password);
    delivery.message = ComposeMail(fields, DateNow());

    const platform::SmtpResult result = platform::SendSmtp(delivery);
    switch (result.failure) {
        case platform::SmtpFailure::kNone: return;
        case platform::SmtpFailure::kConnect:
            Refuse(kNoConnection, source, u"传输无法连接到服务器。", result.detail);
        case platform::SmtpFailure::kLogon:
            Refuse(kLogonRefused, source, u"服务器拒绝了登录的用户名或密码。", result.detail);
        case platform::SmtpFailure::kSender:
            Refuse(kSenderRefused, source, u"服务器拒绝了发件人地址。", result.detail);
        case platform::SmtpFailure::kRecipient:
            Refuse(kRecipientRefused, source, u"服务器拒绝了一个或多个收件人地址。", result.detail);
        case platform::SmtpFailure::kData: break;
    }
    Refuse(kNotSent, source, u"邮件无法发送到 SMTP 服务器。", result.detail);
}

}  // namespace quorvel::standins
