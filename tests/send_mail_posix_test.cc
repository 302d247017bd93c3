// SendMail through the stand-in mail components into an SMTP sink on
// 127.0.0.1 (tests/servers/smtp_sink.py).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "local_server.h"
#include "platform/base64.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "sendmail/send_mail.h"
#include "test_support.h"
#include "tests/iis_test_machine.h"

extern char** environ;

namespace quorvel {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t kSenderRefused = static_cast<std::int32_t>(0x8004020Eu);
constexpr std::int32_t kRecipientRefused = static_cast<std::int32_t>(0x8004020Fu);
constexpr std::int32_t kNoConnection = static_cast<std::int32_t>(0x80040213u);
constexpr std::int32_t kLogonRefused = static_cast<std::int32_t>(0x80040217u);
constexpr std::int32_t kUnsafeField = static_cast<std::int32_t>(0x8004020Du);

// The sink as a child process, killed at the end of the test.
class Sink {
public:
    Sink() {
        const std::string script = std::string(QUORVEL_SOURCE_DIR) + "/tests/servers/smtp_sink.py";
        const std::string folder = (dir_ / "mail").string();
        const std::string port_file = (dir_ / "address").string();
        const char* argv[] = {"python3", script.c_str(), folder.c_str(), port_file.c_str(), nullptr};
        if (posix_spawnp(&pid_, "python3", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
        for (int i = 0; i < 200 && address_.empty(); ++i) {
            std::this_thread::sleep_for(25ms);
            address_ = test::ReadBytes(port_file);
        }
        EXPECT_FALSE(address_.empty()) << "the SMTP sink did not start";
    }
    ~Sink() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    std::u16string address() const { return platform::FromUtf8(address_); }
    int count() const {
        int n = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ / "mail", ec))
            if (entry.path().extension() == ".json") ++n;
        return n;
    }
    // Message N (from 1): its envelope as JSON and its text.
    std::string envelope(int n) const { return test::ReadBytes(dir_ / "mail" / (std::to_string(n) + ".json")); }
    std::string message(int n) const { return test::ReadBytes(dir_ / "mail" / (std::to_string(n) + ".eml")); }

private:
    test::TempDir dir_;
    pid_t pid_ = 0;
    std::string address_;
};

std::int32_t Send(std::int32_t sign, std::u16string from, std::u16string to, std::u16string subject,
                  std::u16string body, std::u16string user, std::u16string password, std::u16string server) {
    return sendmail::SendMail(sign, std::move(from), std::move(to), std::move(subject), std::move(body),
                              std::move(user), std::move(password), std::move(server));
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SendMail, JmailSmtpMailSendsHtmlInTheCharsetWithoutLogon) {
    Sink sink;
    EXPECT_EQ(Send(0, u"panel@host.example", u"alice@example.com", u"站点已开通", u"<b>您好</b> alice",
                   u"ignored-user", u"ignored-pass", sink.address()),
              0);
    ASSERT_EQ(sink.count(), 1);
    const std::string envelope = sink.envelope(1);
    EXPECT_TRUE(Has(envelope, "\"mail_from\": \"<panel@host.example>\"")) << envelope;
    EXPECT_TRUE(Has(envelope, "\"rcpt_to\": [\"<alice@example.com>\"]")) << envelope;
    EXPECT_TRUE(Has(envelope, "\"auth\": null")) << envelope;  // the user name is not used with 0
    // The greeting names no machine, as the Windows build's does not.
    EXPECT_TRUE(Has(envelope, "\"helo\": \"localhost\"")) << envelope;
    const std::string message = sink.message(1);
    EXPECT_TRUE(Has(message, "From: panel@host.example\r\n")) << message;
    EXPECT_TRUE(Has(message, "To: alice@example.com\r\n")) << message;
    EXPECT_TRUE(Has(message, "Subject: =?GB2312?B?" + platform::Base64(platform::ToAnsi(u"站点已开通")) + "?=\r\n"))
        << message;
    EXPECT_TRUE(Has(message, "Content-Type: text/html; charset=\"GB2312\"\r\n")) << message;
    EXPECT_TRUE(Has(message, "\r\n\r\n" + platform::Base64(platform::ToAnsi(u"<b>您好</b> alice")) + "\r\n"))
        << message;
}

TEST(SendMail, JmailMessageLogsOnOnlyWithAUserName) {
    Sink sink;
    EXPECT_EQ(Send(1, u"Panel <panel@host.example>", u"bob@example.com", u"Quota", u"Line one\nLine two", u"panel",
                   u"s3cret", sink.address()),
              0);
    EXPECT_EQ(Send(1, u"panel@host.example", u"bob@example.com", u"Quota", u"again", u"", u"", sink.address()), 0);
    ASSERT_EQ(sink.count(), 2);
    EXPECT_TRUE(Has(sink.envelope(1), "\"user\": \"panel\", \"password\": \"s3cret\"")) << sink.envelope(1);
    EXPECT_TRUE(Has(sink.envelope(1), "\"mail_from\": \"<panel@host.example>\"")) << sink.envelope(1);
    EXPECT_TRUE(Has(sink.envelope(2), "\"auth\": null")) << sink.envelope(2);
    const std::string message = sink.message(1);
    EXPECT_TRUE(Has(message, "From: Panel <panel@host.example>\r\n")) << message;
    EXPECT_TRUE(Has(message, "Content-Transfer-Encoding: 7bit\r\n")) << message;
    EXPECT_TRUE(Has(message, "X-Priority: 1\r\n\r\nLine one\r\nLine two\r\n")) << message;
    EXPECT_EQ(Send(1, u"panel@host.example", u"bob@example.com", u"x", u"x", u"panel", u"wrong", sink.address()),
              kLogonRefused);
    EXPECT_EQ(sink.count(), 2);
}

TEST(SendMail, CdontsDeliversToTheMachinesRelay) {
    Sink sink;
    const test::FreshMachine machine;
    const std::filesystem::path ini = machine.path() / "machine.ini";
    test::WriteBytes(ini, test::ReadBytes(ini) + "[Mail]\r\nSmtpServer=" + platform::ToUtf8(sink.address()) + "\r\n");
    const std::int32_t result = Send(2, u"panel@host.example", u"carol@example.com", u"Hello", u"Plain text",
                                     u"unused", u"unused", u"192.0.2.1:9");
    EXPECT_EQ(result, 0);
    ASSERT_EQ(sink.count(), 1);
    EXPECT_TRUE(Has(sink.envelope(1), "\"rcpt_to\": [\"<carol@example.com>\"]")) << sink.envelope(1);
    EXPECT_TRUE(Has(sink.envelope(1), "\"auth\": null")) << sink.envelope(1);
    EXPECT_TRUE(Has(sink.message(1), "Content-Type: text/plain")) << sink.message(1);
}

TEST(SendMail, UnknownSignsCreateNothingAndSendNothing) {
    Sink sink;
    for (const std::int32_t sign : {3, -1, 100})
        EXPECT_EQ(Send(sign, u"a@x", u"b@y", u"s", u"b", u"", u"", sink.address()), 0) << sign;
    EXPECT_EQ(sink.count(), 0);
}

TEST(SendMail, UndeliverableMessagesGiveTheComponentsErrorNumber) {
    Sink sink;
    EXPECT_EQ(Send(0, u"a@x", u"reject-me@y", u"s", u"b", u"", u"", sink.address()), kRecipientRefused);
    EXPECT_EQ(Send(1, u"a@x", u"reject-me@y", u"s", u"b", u"", u"", sink.address()), kRecipientRefused);
    const std::u16string closed = u"127.0.0.1:" + platform::FromUtf8(std::to_string(test::LocalServer::ClosedPort()));
    EXPECT_EQ(Send(0, u"a@x", u"b@y", u"s", u"b", u"", u"", closed), kNoConnection);
    EXPECT_EQ(Send(1, u"a@x", u"b@y", u"s", u"b", u"", u"", u""), kNoConnection);
    EXPECT_EQ(sink.count(), 0);
}

TEST(SendMail, LineBreaksInAnAddressOrTheSubjectAreRefused) {
    Sink sink;
    EXPECT_EQ(Send(0, u"a@x", u"b@y\r\nBcc: victim@z", u"s", u"b", u"", u"", sink.address()), kUnsafeField);
    EXPECT_EQ(Send(1, u"a@x\nBcc: victim@z", u"b@y", u"s", u"b", u"", u"", sink.address()), kUnsafeField);
    EXPECT_EQ(Send(0, u"a@x", u"b@y", u"hello\r\nBcc: victim@z", u"b", u"", u"", sink.address()), kUnsafeField);
    EXPECT_EQ(sink.count(), 0);
    // Line breaks in the body are the body's own.
    EXPECT_EQ(Send(0, u"a@x", u"b@y", u"s", u"one\r\n.\r\ntwo", u"", u"", sink.address()), 0);
    ASSERT_EQ(sink.count(), 1);
    EXPECT_TRUE(Has(sink.message(1), "\r\n\r\none\r\n.\r\ntwo\r\n")) << sink.message(1);
}

TEST(SendMail, AddressesThatWouldCarryMoreThanThemselvesAreRefused) {
    Sink sink;
    const test::FreshMachine machine;
    const std::filesystem::path ini = machine.path() / "machine.ini";
    test::WriteBytes(ini, test::ReadBytes(ini) + "[Mail]\r\nSmtpServer=" + platform::ToUtf8(sink.address()) + "\r\n");
    const std::u16string bad[] = {
        u"a@x> SIZE=1 <evil@example.org",  // would be a parameter and a second address
        u"a@x>",      u"<a@x",          u"<a@x> x",     u"a @x",          u"a@x\tb",
        u"a@x\x01",   u"N <a@x> <b@y>", u"N <a x@y>",   u"N<<a@x>>",      u"a@x\U0001F600",
        u"a@x <b@y>",
    };
    for (const std::int32_t sign : {0, 1, 2}) {
        for (const std::u16string& address : bad) {
            SCOPED_TRACE(std::to_string(sign) + " " + platform::ToUtf8(address));
            EXPECT_EQ(Send(sign, u"panel@host.example", address, u"s", u"b", u"u", u"p", sink.address()),
                      kRecipientRefused);
            EXPECT_EQ(Send(sign, address, u"bob@example.com", u"s", u"b", u"u", u"p", sink.address()),
                      kSenderRefused);
        }
    }
    // Sound forms still go: a bare address, one with a name, Chinese in the name.
    EXPECT_EQ(Send(0, u"面板 <panel@host.example>", u" bob@example.com ", u"s", u"b", u"", u"", sink.address()), 0);
    ASSERT_EQ(sink.count(), 1);
    EXPECT_TRUE(Has(sink.envelope(1), "\"mail_from\": \"<panel@host.example>\"")) << sink.envelope(1);
    EXPECT_TRUE(Has(sink.envelope(1), "\"rcpt_to\": [\"<bob@example.com>\"]")) << sink.envelope(1);
}

TEST(SendMail, AComponentNotInstalledFailsEveryStep) {
    Sink sink;
    // Creates the machine's registry with its stand-ins before one is taken away.
    ASSERT_EQ(Send(0, u"a@x", u"b@y", u"s", u"b", u"", u"", sink.address()), 0);
    const auto clsid = platform::GetClassesRootValue("JMAIL.SmtpMail\\CLSID", "");
    ASSERT_TRUE(clsid.has_value());
    ASSERT_TRUE(platform::DeleteClassesRootTree("JMAIL.SmtpMail"));
    // The creation fails with 429, every later step on the missing object with 91.
    const std::int32_t result = Send(0, u"a@x", u"b@y", u"s", u"b", u"", u"", sink.address());
    platform::SetClassesRootValue("JMAIL.SmtpMail\\CLSID", "", *clsid);
    EXPECT_EQ(result, 91);
    EXPECT_EQ(sink.count(), 1);
}

}  // namespace
}  // namespace quorvel
