// The SMTP seam against a scripted server on 127.0.0.1, the same test in
// both builds (libcurl on POSIX, the Winsock client on Windows).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "local_server.h"
#include "platform/smtp.h"
#include "platform/time_limits.h"

namespace quorvel {
namespace {

using platform::SmtpFailure;
using test::LocalServer;
using test::Socket;

// How the scripted server answers.
enum class Manner {
    kPrompt,
    kSlow,            // every answer after 300 ms
    kSilentAtTheEnd,  // no answer to the final dot, nor to anything after it
};

// Answers the dialogue of one message; refuses the sender or the recipient
// named `refuse`. Keeps what it was told, commands and data.
class ScriptedServer {
public:
    explicit ScriptedServer(std::string refuse = "", Manner manner = Manner::kPrompt)
        : refuse_(std::move(refuse)), manner_(manner), server_([this](Socket fd, const std::atomic<bool>& stopping) {
              Serve(fd, stopping);
          }) {}

    std::string address() const { return server_.address(); }
    int connections() const { return server_.connections(); }
    // What it was told, once the dialogue is over: the client may return
    // before the server has taken in its last words.
    std::string dialogue() const {
        for (int waited = 0; !done_.load(std::memory_order_acquire) && waited < 2000; waited += 10) test::PauseMs(10);
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
        auto answer = [&](std::string_view text) {
            if (manner_ == Manner::kSlow) test::PauseMs(300);
            test::SendAll(fd, text);
        };
        answer("220 sink ready\r\n");
        for (std::string line = next_line(); !line.empty(); line = next_line()) {
            dialogue_ += line + "\n";
            const std::string verb = line.substr(0, 4);
            if (verb == "EHLO" || verb == "HELO") {
                answer("250 sink\r\n");
            } else if ((verb == "MAIL" || verb == "RCPT") && !refuse_.empty() &&
                       line.find("<" + refuse_ + ">") != std::string::npos) {
                answer("550 no such mailbox\r\n");
            } else if (verb == "DATA") {
                answer("354 go ahead\r\n");
                std::string data;
                for (std::string text = next_line(); text != "."; text = next_line()) {
                    if (text.empty() && pending.empty() && stopping) break;
                    data += text + "\r\n";
                }
                dialogue_ += "[data]\n" + data + "[end]\n";
                if (manner_ == Manner::kSilentAtTheEnd) {
                    test::StaySilent(stopping);
                    break;
                }
                answer("250 queued\r\n");
            } else if (verb == "QUIT") {
                answer("221 bye\r\n");
                break;
            } else {
                answer("250 ok\r\n");
            }
        }
        done_.store(true, std::memory_order_release);
    }

    std::string refuse_;
    Manner manner_;
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
    // The greeting names no machine: the same in both builds.
    EXPECT_EQ(dialogue.rfind("EHLO localhost\n", 0), 0u) << dialogue;
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

// Shortens the limits for one test.
class ShortLimits {
public:
    explicit ShortLimits(platform::TimeLimits limits) : saved_(platform::SetTimeLimits(limits)) {}
    ~ShortLimits() { platform::SetTimeLimits(saved_); }
    ShortLimits(const ShortLimits&) = delete;
    ShortLimits& operator=(const ShortLimits&) = delete;

private:
    platform::TimeLimits saved_;
};

// One bound on the whole dialogue, whatever step the server is slow at:
// here 2 seconds where the server would take longer (silent after the
// message; 300 ms for each of nine answers).
TEST(SmtpSeam, TheWholeDialogueEndsWithinOneBound) {
    using namespace std::chrono_literals;
    const ShortLimits limits({2000ms, 2000ms});
    for (const Manner manner : {Manner::kSilentAtTheEnd, Manner::kSlow}) {
        ScriptedServer server("", manner);
        const auto start = std::chrono::steady_clock::now();
        const platform::SmtpResult result = platform::SendSmtp(Delivery(server.address()));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(result.failure, SmtpFailure::kConnect) << result.detail;
        EXPECT_GE(took, 1000ms);
        // The bound, with room for a loaded machine.
        EXPECT_LT(took, 3500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    }
}

}  // namespace
}  // namespace quorvel
