// The SMTP seam against a scripted server on 127.0.0.1, the same test in
// both builds (libcurl on POSIX, the Winsock client on Windows).
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "local_server.h"
#include "platform/smtp.h"

namespace quorvel {
namespace {

using platform::SmtpFailure;
using test::LocalServer;
using test::Socket;

// Answers the dialogue of one message; refuses the sender or the recipient
// named `refuse`. Keeps what it was told, commands and data.
class ScriptedServer {
public:
    explicit ScriptedServer(std::string refuse = "")
        : refuse_(std::move(refuse)), server_([this](Socket fd, const std::atomic<bool>& stopping) {
              Serve(fd, stopping);
          }) {}

    std::string address() const { return server_.address(); }
    int connections() const { return server_.connections(); }
    // What it was told, once the dialogue has ended: the client may return
    // before the server has read its last line.
    std::string dialogue() const {
        for (int i = 0; i < 500 && !done_.load(std::memory_order_acquire); ++i) test::PauseMs(10);
        return done_.load(std::memory_order_acquire) ? dialogue_ : std::string();
    }

private:
    void Serve(Socket fd, const std::atomic<bool>& stopping) {
        std::string pending;
        auto next_line = [&]() -> std::string {
            while (pending.find("\r\n") == std::string::npos) {
                const std::string more = test::ReadSome(fd, stopping);
                if (more.empty()) return {};
                pending += more;
            }
            const std::size_t end = pending.find("\r\n");
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            return line;
        };
        test::SendAll(fd, "220 sink ready\r\n");
        for (std::string line = next_line(); !line.empty(); line = next_line()) {
            dialogue_ += line + "\n";
            const std::string verb = line.substr(0, 4);
            if (verb == "EHLO" || verb == "HELO") {
                test::SendAll(fd, "250 sink\r\n");
            } else if ((verb == "MAIL" || verb == "RCPT") && !refuse_.empty() &&
                       line.find("<" + refuse_ + ">") != std::string::npos) {
                test::SendAll(fd, "550 no such mailbox\r\n");
            } else if (verb == "DATA") {
                test::SendAll(fd, "354 go ahead\r\n");
                std::string data;
                for (std::string text = next_line(); text != "."; text = next_line()) {
                    if (text.empty() && pending.empty() && stopping) break;
                    data += text + "\r\n";
                }
                dialogue_ += "[data]\n" + data + "[end]\n";
                test::SendAll(fd, "250 queued\r\n");
            } else if (verb == "QUIT") {
                test::SendAll(fd, "221 bye\r\n");
                break;
            } else {
                test::SendAll(fd, "250 ok\r\n");
            }
        }
        done_.store(true, std::memory_order_release);
    }

    std::string refuse_;
    std::string dialogue_;
    std::atomic<bool> done_{false};
    LocalServer server_;
};

platform::SmtpDelivery Delivery(const std::string& server) {
    platform::SmtpDelivery delivery;
    delivery.server = server;
    delivery.from = "panel@example.com";
    delivery.to = {"alice@example.com", "bob@example.com"};
    delivery.message = "From: panel@example.com\r\nSubject: test\r\n\r\nfirst line\r\n.starts with a dot\r\nlast\r\n";
    return delivery;
}

TEST(SmtpSeam, DeliversTheEnvelopeAndTheMessageDotStuffed) {
    ScriptedServer server;
    const platform::SmtpResult result = platform::SendSmtp(Delivery(server.address()));
    EXPECT_EQ(result.failure, SmtpFailure::kNone) << result.detail;
    const std::string dialogue = server.dialogue();
    EXPECT_NE(dialogue.find("MAIL FROM:<panel@example.com>"), std::string::npos) << dialogue;
    const std::size_t alice = dialogue.find("RCPT TO:<alice@example.com>");
    const std::size_t bob = dialogue.find("RCPT TO:<bob@example.com>");
    EXPECT_NE(alice, std::string::npos) << dialogue;
    EXPECT_NE(bob, std::string::npos) << dialogue;
    EXPECT_LT(alice, bob);
    // A line that starts with a dot travels with a second one.
    EXPECT_NE(dialogue.find("[data]\nFrom: panel@example.com\r\nSubject: test\r\n\r\nfirst line\r\n..starts with a dot\r\nlast\r\n[end]"),
              std::string::npos)
        << dialogue;
}

TEST(SmtpSeam, RefusalsAndNoServerAreTold) {
    {
        ScriptedServer server("bob@example.com");
        EXPECT_EQ(platform::SendSmtp(Delivery(server.address())).failure, SmtpFailure::kRecipient);
    }
    {
        ScriptedServer server("panel@example.com");
        EXPECT_EQ(platform::SendSmtp(Delivery(server.address())).failure, SmtpFailure::kSender);
    }
    const std::string closed = "127.0.0.1:" + std::to_string(LocalServer::ClosedPort());
    EXPECT_EQ(platform::SendSmtp(Delivery(closed)).failure, SmtpFailure::kConnect);
}

TEST(SmtpSeam, EnvelopeAddressesThatCouldCarryMoreAreRefusedBeforeConnecting) {
    ScriptedServer server;
    const struct {
        std::string from;
        std::string to;
        SmtpFailure failure;
    } cases[] = {
        {"panel@example.com", "a@x> SIZE=1 <evil@example.org", SmtpFailure::kRecipient},
        {"panel@example.com> BODY=8BITMIME", "alice@example.com", SmtpFailure::kSender},
        {"panel@example.com", "alice@example.com\r\nRCPT TO:<evil@example.org", SmtpFailure::kRecipient},
        {"pan el@example.com", "alice@example.com", SmtpFailure::kSender},
        {"panel@example.com", "alice@example.com\t", SmtpFailure::kRecipient},
        {"<panel@example.com", "alice@example.com", SmtpFailure::kSender},
        {"panel@example.com", std::string("alice@example.com\0x", 19), SmtpFailure::kRecipient},
        {"panel@example.com\x7f", "alice@example.com", SmtpFailure::kSender},
    };
    for (const auto& c : cases) {
        platform::SmtpDelivery delivery = Delivery(server.address());
        delivery.from = c.from;
        delivery.to.push_back(c.to);
        EXPECT_EQ(platform::SendSmtp(delivery).failure, c.failure) << c.from << " " << c.to;
    }
    EXPECT_EQ(server.connections(), 0);
}

}  // namespace
}  // namespace quorvel
