// Supervise against pages served on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "host/supervise.h"
#include "http_timeouts.h"
#include "local_server.h"
#include "platform/utf8.h"
#include "test_support.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test::LocalServer;
using test::LogWatch;
using test::MessageOf;

constexpr char kMissingText[] = "错误号：1，错误源：网页 ，错误描述：网页没有发生指定错误！";

std::string Response(std::string_view status, std::string_view body) {
    return "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + std::string(body);
}

// Serves one fixed response to every request and remembers the last request.
class Page {
public:
    explicit Page(std::string body, std::string status = "200 OK")
        : response_(Response(status, body)), server_([this](int fd, const std::atomic<bool>& stopping) {
              const std::string request = test::ReadUntil(fd, "\r\n\r\n", stopping);
              {
                  std::lock_guard lock(mutex_);
                  request_ = request;
              }
              test::SendAll(fd, response_);
          }) {}
    std::string url(std::string_view path = "/") const { return "http://" + server_.address() + std::string(path); }
    std::string request() const {
        std::lock_guard lock(mutex_);
        return request_;
    }
    int connections() const { return server_.connections(); }

private:
    std::string response_;
    mutable std::mutex mutex_;
    std::string request_;
    LocalServer server_;
};

std::int32_t Fetch(std::string_view url, std::string_view sign) {
    return host::Supervise(platform::FromUtf8(url), platform::FromUtf8(sign));
}

// Shortens the HTTP time-outs for one test.
class ShortTimeouts {
public:
    ShortTimeouts() : saved_(test::SetHttpTimeouts({200ms, 400ms})) {}
    ~ShortTimeouts() { test::SetHttpTimeouts(saved_); }

private:
    test::HttpTimeouts saved_;
};

void ExpectMissing(const LogWatch& log, std::int32_t result) {
    EXPECT_EQ(result, 1);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), kMissingText);
    EXPECT_NE(lines[0].find("Supervise函数"), std::string::npos);
}

TEST(Supervise, FindsTheMarkerWithoutRegardToCaseAndLogsNothing) {
    Page page("<html><body>Service is RUNNING fine</body></html>");
    LogWatch log;
    EXPECT_EQ(Fetch(page.url("/status"), "running"), 0);
    EXPECT_EQ(Fetch(page.url("/status"), "Service Is Running"), 0);
    EXPECT_TRUE(log.NewLines().empty());
    // The request as the component has always made it: a plain GET, its agent
    // name, and no copy from a cache.
    const std::string request = page.request();
    EXPECT_EQ(request.rfind("GET /status HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("User-Agent: http generic\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("no-cache"), std::string::npos) << request;
}

TEST(Supervise, AMissingMarkerIsOneWithItsLine) {
    Page page("<html>all is well</html>");
    LogWatch log;
    ExpectMissing(log, Fetch(page.url(), "error"));
}

TEST(Supervise, AnUnreachableAddressIsOneNotFour) {
    LogWatch log;
    ExpectMissing(log, Fetch("http://127.0.0.1:" + std::to_string(LocalServer::ClosedPort()) + "/", "x"));
    LogWatch log2;
    ExpectMissing(log2, Fetch("http://no-such-host.invalid/", "x"));
}

TEST(Supervise, TheSchemeIsAddedOnlyWhenMissing) {
    Page page("marker here");
    EXPECT_EQ(Fetch(page.url("/a").substr(7), "MARKER"), 0);  // "127.0.0.1:PORT/a"
    EXPECT_EQ(page.request().rfind("GET /a ", 0), 0u);
    EXPECT_EQ(Fetch("HTTP://" + page.url("/b").substr(7), "marker"), 0);
    EXPECT_EQ(page.request().rfind("GET /b ", 0), 0u);
    EXPECT_EQ(Fetch("hTtP://" + page.url("/c").substr(7), "marker"), 0);
    EXPECT_EQ(page.connections(), 3);
    // Another scheme is not foreseen: it gets "http://" in front and fails.
    LogWatch log;
    ExpectMissing(log, Fetch("ftp://" + page.url().substr(7), "marker"));
}

// An address with blanks is fetched, as the Windows build fetches it.
TEST(Supervise, BlanksInTheAddressAreSentEncoded) {
    Page page("marker here");
    LogWatch log;
    EXPECT_EQ(Fetch(page.url("/site status/check.asp?name=a b"), "marker"), 0);
    EXPECT_EQ(page.request().rfind("GET /site%20status/check.asp?name=a%20b HTTP/1.1\r\n", 0), 0u) << page.request();
    EXPECT_TRUE(log.NewLines().empty());
}

TEST(Supervise, AnEmptyMarkerIsFoundInAnyTextButNotInAnEmptyPage) {
    Page text("x");
    EXPECT_EQ(Fetch(text.url(), ""), 0);
    Page empty("");
    EXPECT_EQ(Fetch(empty.url(), ""), 1);
    LogWatch log;
    ExpectMissing(log, Fetch(empty.url(), "x"));
}

TEST(Supervise, BodiesOfWholeReadsAndMarkersAcrossReads) {
    for (const size_t size : {4096u, 8192u}) {
        Page page(std::string(size - 3, '.') + "END");
        EXPECT_EQ(Fetch(page.url(), "end"), 0) << size;
        EXPECT_EQ(Fetch(page.url(), "."), 0) << size;
        EXPECT_EQ(Fetch(page.url(), "ENDX"), 1) << size;
    }
    // The marker's first half ends the first read, its second half begins the next.
    Page across(std::string(4096 - 4, '-') + "WARNING" + std::string(5000, '-'));
    EXPECT_EQ(Fetch(across.url(), "warning"), 0);
}

TEST(Supervise, ADoubleByteCharacterCutBetweenReadsIsJoinedAgain) {
    // GBK text whose character "维" straddles byte 4096 of the body.
    const std::string marker = platform::ToAnsi(u"维护中");
    ASSERT_EQ(marker.size(), 6u);
    Page page(std::string(4095, 'a') + marker + "b");
    EXPECT_EQ(Fetch(page.url(), "维护中"), 0);
    EXPECT_EQ(Fetch(page.url(), "维护中B"), 0);
    // What a split decoding would see there is not in the page.
    EXPECT_EQ(Fetch(page.url(), platform::ToUtf8(platform::FromAnsi(marker.substr(1, 2)))), 1);
}

TEST(Supervise, AnErrorPageIsSearchedLikeAnyOther) {
    Page failing("<h1>Internal Server Error</h1> database down", "500 Internal Server Error");
    EXPECT_EQ(Fetch(failing.url(), "DATABASE DOWN"), 0);
    Page missing("Not Found", "404 Not Found");
    EXPECT_EQ(Fetch(missing.url(), "database"), 1);
}

TEST(Supervise, ASilentServerIsBoundedByTheTimeOuts) {
    ShortTimeouts short_timeouts;
    LocalServer silent([](int fd, const std::atomic<bool>& stopping) {
        test::ReadUntil(fd, "\r\n\r\n", stopping);
        test::StaySilent(stopping);
    });
    const auto start = std::chrono::steady_clock::now();
    LogWatch log;
    ExpectMissing(log, Fetch("http://" + silent.address() + "/", "x"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // What arrived before the server fell silent is searched.
    LocalServer stalls([](int fd, const std::atomic<bool>& stopping) {
        test::ReadUntil(fd, "\r\n\r\n", stopping);
        test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst part OK ");
        test::StaySilent(stopping);
    });
    EXPECT_EQ(Fetch("http://" + stalls.address() + "/", "part ok"), 0);
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A body sent in pieces until the client goes away or `total` bytes are out.
class Stream {
public:
    Stream(std::string head, size_t total, std::string tail = "")
        : server_([=, this](int fd, const std::atomic<bool>& stopping) {
              test::ReadUntil(fd, "\r\n\r\n", stopping);
              std::string piece(65536, 'z');
              for (size_t i = 0; i < piece.size(); i += 64) piece[i] = '\n';
              if (!test::SendAll(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + head)) return;
              sent_ = head.size();
              while (!stopping && sent_ < total) {
                  if (!test::SendAll(fd, piece)) return;
                  sent_ += piece.size();
              }
              test::SendAll(fd, tail);
          }) {}
    std::string url() const { return "http://" + server_.address() + "/"; }
    size_t sent() const { return sent_; }

private:
    std::atomic<size_t> sent_{0};
    LocalServer server_;
};

TEST(Supervise, AHugePageIsSearchedAsItArrivesAndReadingStopsAtTheMarker) {
    constexpr size_t kHuge = size_t{1} << 40;  // far more than any memory
    Stream endless("<html>status: alive ", kHuge);
    EXPECT_EQ(Fetch(endless.url(), "ALIVE"), 0);
    EXPECT_LT(endless.sent(), kHuge);

    constexpr size_t kLarge = size_t{24} << 20;
    [[maybe_unused]] const long before = PeakKilobytes();  // unread under the sanitizer
    Stream large("<html>", kLarge, "the marker at the very end");
    EXPECT_EQ(Fetch(large.url(), "VERY END"), 0);
    Stream without("<html>", kLarge);
    EXPECT_EQ(Fetch(without.url(), "very end"), 1);
#if !defined(__SANITIZE_ADDRESS__)
    // The page as text would be twice its size in bytes; the search keeps
    // only what it needs (the sanitizer's quarantine keeps freed memory).
    EXPECT_LT(PeakKilobytes() - before, 16 * 1024);
#endif
}

}  // namespace
}  // namespace quorvel
