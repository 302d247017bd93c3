// The HTTP seam against a server on 127.0.0.1, the same test in both builds
// (libcurl on POSIX, WinINet under Wine).
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "local_server.h"
#include "platform/http.h"

namespace quorvel {
namespace {

using test::LocalServer;
using test::Socket;

// Serves one canned response per connection and keeps the last request
// (head and body) for the test to look at.
class Server {
public:
    explicit Server(std::string response)
        : response_(std::move(response)), server_([this](Socket fd, const std::atomic<bool>& stopping) {
              std::string got = test::ReadHttpRequest(fd, stopping);
              if (got.empty()) return;
              request_ = got;
              seen_.store(true, std::memory_order_release);
              test::SendAll(fd, response_);
          }) {}

    std::string url(const std::string& path) const { return "http://" + server_.address() + path; }
    std::uint16_t port() const { return server_.port(); }
    // The last request; empty when none came.
    std::string request() const { return seen_.load(std::memory_order_acquire) ? request_ : std::string(); }

private:
    std::string response_;
    std::string request_;
    std::atomic<bool> seen_{false};
    LocalServer server_;
};

std::string Response(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string Body(std::size_t size) {
    std::string body;
    for (std::size_t i = 0; body.size() < size; ++i) body += "line " + std::to_string(i) + "\r\n";
    body.resize(size);
    return body;
}

TEST(HttpSeam, GetHandsTheWholeBodyOverInPiecesWhateverTheStatus) {
    for (const char* status : {"200 OK", "500 Internal Server Error"}) {
        const std::string body = Body(3 * platform::kHttpReadSize + 123);
        Server server(Response(status, body));
        std::string got;
        bool pieces_fit = true;
        EXPECT_TRUE(platform::HttpGet(server.url("/status.htm?x=1"), [&](std::string_view piece) {
            pieces_fit = pieces_fit && !piece.empty() && piece.size() <= platform::kHttpReadSize;
            got.append(piece);
            return true;
        })) << status;
        EXPECT_EQ(got, body) << status;
        EXPECT_TRUE(pieces_fit) << status;
        const std::string request = server.request();
        EXPECT_EQ(request.rfind("GET /status.htm?x=1 HTTP/1.1\r\n", 0), 0u) << request;
        EXPECT_NE(request.find("\r\nUser-Agent: http generic\r\n"), std::string::npos) << request;
    }
}

// What WinINet's URL-open does to an address, libcurl's side does too:
// blanks go as %20 (a %XX already there stays), backslashes as slashes,
// tabs and trailing blanks are dropped.
TEST(HttpSeam, GetSendsTheAddressAsWinInetSendsIt) {
    const struct {
        const char* path;
        const char* sent;
    } cases[] = {
        {"/a b/c d?x y=1 2", "/a%20b/c%20d?x%20y=1%202"},
        {"/sp%20 x", "/sp%20%20x"},
        {"/trail  ", "/trail"},
        {"/back\\slash?q\\r", "/back/slash?q/r"},
        {"/tab\tx", "/tabx"},
    };
    for (const auto& c : cases) {
        Server server(Response("200 OK", "ok"));
        std::string got;
        EXPECT_TRUE(platform::HttpGet(server.url(c.path), [&](std::string_view piece) {
            got.append(piece);
            return true;
        })) << c.path;
        EXPECT_EQ(got, "ok") << c.path;
        const std::string request = server.request();
        EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET " + std::string(c.sent) + " HTTP/1.1") << c.path;
    }
}

TEST(HttpSeam, GetStopsWhenTheSinkSaysSo) {
    Server server(Response("200 OK", Body(20 * platform::kHttpReadSize)));
    int pieces = 0;
    platform::HttpGet(server.url("/"), [&](std::string_view) { return ++pieces < 2; });
    EXPECT_EQ(pieces, 2);
}

TEST(HttpSeam, PostSendsHeadersAndBodyAndCountsAnyAnswerAsSent) {
    const std::string body = "NewAccount=Quorvel&Password=a%26b%3Dc";
    for (const char* status : {"200 OK", "404 Not Found"}) {
        Server server(Response(status, "<html>done</html>"));
        const platform::HttpPostResult result = platform::HttpPost(
            "127.0.0.1", "/WorldClient.dll?View=NewAccount", server.port(),
            "Content-Type: application/x-www-form-urlencoded\r\n", body);
        EXPECT_TRUE(result.sent) << status << " error " << result.error;
        const std::string request = server.request();
        EXPECT_EQ(request.rfind("POST /WorldClient.dll?View=NewAccount HTTP/1.1\r\n", 0), 0u) << request;
        EXPECT_NE(request.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << request;
        EXPECT_NE(request.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos)
            << request;
        EXPECT_NE(request.find("\r\nUser-Agent: http generic\r\n"), std::string::npos) << request;
        EXPECT_EQ(request.substr(request.size() - body.size()), body);
    }
}

TEST(HttpSeam, NothingListeningIsNotSent) {
    const std::uint16_t port = LocalServer::ClosedPort();
    const platform::HttpPostResult result = platform::HttpPost("127.0.0.1", "/", port, "", "x=1");
    EXPECT_FALSE(result.sent);
    EXPECT_NE(result.error, 0u);
    std::string got;
    platform::HttpGet("http://127.0.0.1:" + std::to_string(port) + "/", [&](std::string_view piece) {
        got.append(piece);
        return true;
    });
    EXPECT_EQ(got, "");
}

}  // namespace
}  // namespace quorvel
