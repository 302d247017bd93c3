// The webmail stand-in as a server: clients that send slowly or never end
// stall no form, a body past the form limit is refused unread, and a port
// in use is refused with a reason.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "test_support.h"
#include "tools/webmail/server.h"

namespace quorvel::webmail {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ReadBytes;
using test::WriteBytes;

constexpr char kForm[] = "View=NewUser&Finished=Yes&User=alice&FullName=Alice&Pass=pw&ConfirmPass=pw";

// A mail server folder with account creation on, and its stand-in webmail
// server once started.
class WebmailServerTest : public testing::Test {
protected:
    WebmailServerTest() {
        std::filesystem::create_directories(dir_ / "App");
        std::filesystem::create_directories(dir_ / "WorldClient");
        WriteBytes(list(), "");
        WriteBytes(dir_ / "WorldClient" / "Domains.ini", "[Default:Settings]\r\nNewAccountCreation=Yes\r\n");
    }
    ~WebmailServerTest() override {
        if (!server_) return;
        server_->Stop();
        thread_.join();
    }
    // The port it listens on.
    int Start(Limits limits = {}) {
        server_ = std::make_unique<Server>(platform::ToAnsi(dir_.u16()), limits);
        const int port = server_->Bind(0);
        thread_ = std::thread([this] { server_->Run(); });
        return port;
    }
    std::filesystem::path list() const { return dir_ / "App" / "USERLIST.DAT"; }

    test::TempDir dir_;
    std::unique_ptr<Server> server_;
    std::thread thread_;
};

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Whether the server closed `fd` within `within`.
bool ClosedWithin(int fd, std::chrono::milliseconds within) {
    const Clock::time_point until = Clock::now() + within;
    char buffer[4096];
    while (Clock::now() < until) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        if (recv(fd, buffer, sizeof(buffer), 0) <= 0) return true;
    }
    return false;
}

// Clients that open a request and send its head a byte at a time, slower
// than anyone types, until stopped.
class Tricklers {
public:
    Tricklers(int port, int count) {
        for (int i = 0; i < count; ++i) fds_.push_back(Connect(port));
        thread_ = std::thread([this] {
            const std::string head = "POST /WorldClient.dll HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
            for (size_t at = 0; !stop_; ++at) {
                for (const int fd : fds_) send(fd, &head[at % head.size()], 1, MSG_NOSIGNAL);
                std::this_thread::sleep_for(100ms);
            }
        });
    }
    ~Tricklers() {
        stop_ = true;
        thread_.join();
        for (const int fd : fds_) close(fd);
    }
    const std::vector<int>& fds() const { return fds_; }

private:
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(WebmailServerTest, SlowClientsHoldUpNoFormAndAreCutOffAtTheirDeadline) {
    const int port = Start({.request_time = 1500ms});
    ASSERT_GT(port, 0);
    // More slow clients than the library's own pool has workers.
    Tricklers slow(port, 16);
    std::this_thread::sleep_for(200ms);

    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(1, 0);
    const auto start = Clock::now();
    const httplib::Result answer = client.Post("/WorldClient.dll", kForm, "application/x-www-form-urlencoded");
    ASSERT_TRUE(answer) << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, 200);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(ReadBytes(list()).size(), 237u) << "one record appended";

    // Their requests never end: each connection is closed at its deadline.
    for (const int fd : slow.fds()) EXPECT_TRUE(ClosedWithin(fd, 3000ms));
}

TEST_F(WebmailServerTest, ABodyPastTheFormLimitIsRefusedUnreadAndAppendsNothing) {
    const int port = Start();
    ASSERT_GT(port, 0);
    const int fd = Connect(port);
    ASSERT_GE(fd, 0);
    const std::string head = "POST /WorldClient.dll HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 104857600\r\n\r\n";
    send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    const std::string chunk = std::string(kForm) + std::string(65536, 'x');
    send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof(buffer), 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 413 ", 0), 0u) << answer;
    EXPECT_NE(answer.find("65536 bytes"), std::string::npos) << answer;
    EXPECT_EQ(ReadBytes(list()), "");

    // A body without a stated length is cut off at the limit too.
    httplib::Client client("127.0.0.1", port);
    const httplib::Result chunked = client.Post(
        "/WorldClient.dll",
        [](size_t offset, httplib::DataSink& sink) {
            const std::string part = offset == 0 ? std::string(kForm) : std::string(8192, 'x');
            return offset > (1u << 20) ? (sink.done(), true) : sink.write(part.data(), part.size());
        },
        "application/x-www-form-urlencoded");
    EXPECT_TRUE(!chunked || chunked->status != 200);
    EXPECT_EQ(ReadBytes(list()), "");

    // A form within the limit is served, refusals with status 200 as ever.
    const std::string padded = std::string(kForm) + "&Padding=" + std::string(60000, 'p');
    const httplib::Result served = client.Post("/WorldClient.dll", padded, "application/x-www-form-urlencoded");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
}

TEST_F(WebmailServerTest, ASecondServerOnAPortInUseExitsWithAReason) {
    const int port = Start();
    ASSERT_GT(port, 0);
    const std::filesystem::path out = dir_ / "out.txt";
    const std::filesystem::path err = dir_ / "err.txt";
    const std::string command = std::string(QUORVEL_HOST_PATH) + " webmail --mail-dir '" + dir_.path().string() +
                                "' --port " + std::to_string(port) + " >'" + out.string() + "' 2>'" + err.string() +
                                "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 69);
    EXPECT_EQ(ReadBytes(out), "") << "never says it listens";
    EXPECT_NE(ReadBytes(err).find("in use"), std::string::npos) << ReadBytes(err);
    // The first one still serves.
    httplib::Client client("127.0.0.1", port);
    const httplib::Result answer = client.Post("/WorldClient.dll", kForm, "application/x-www-form-urlencoded");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
}

}  // namespace
}  // namespace quorvel::webmail
