#include "tools/webmail/server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "tools/webmail/new_account.h"

namespace quorvel::webmail {
namespace {

using Clock = std::chrono::steady_clock;

// Room for the request line and the headers beside the form.
constexpr std::size_t kHeadBytes = 16 * 1024;
// An answer goes out within this, or the connection is dropped.
constexpr std::chrono::seconds kWriteTime{5};

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int timeout = MillisecondsUntil(deadline);
        if (timeout == 0) return false;
        pollfd ready{fd, events, 0};
        const int n = ::poll(&ready, 1, timeout);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

void AddressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t size = sizeof(address);
    const int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size)
                        : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    if (rc != 0 || address.ss_family != AF_INET) return;
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) != nullptr) ip = text;
    port = ntohs(in->sin_port);
}

// One connection's stream: reading ends at the request's deadline and after
// the most bytes a request may have, whatever the client does.
class BoundedStream final : public httplib::Stream {
public:
    BoundedStream(int fd, Clock::time_point deadline, std::size_t most)
        : fd_(fd), deadline_(deadline), left_(most) {}

    bool is_readable() const override { return left_ > 0 && WaitFor(fd_, POLLIN, deadline_); }
    bool is_writable() const override { return WaitFor(fd_, POLLOUT, Clock::now() + kWriteTime); }
    ssize_t read(char* ptr, size_t size) override {
        if (!is_readable()) return -1;
        for (;;) {
            const ssize_t n = ::recv(fd_, ptr, std::min(size, left_), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) left_ -= static_cast<size_t>(n);
            return n;
        }
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        for (;;) {
            const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { AddressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { AddressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    int fd_;
    Clock::time_point deadline_;
    std::size_t left_;
};

// cpp-httplib reads a request with a time-out for each read only, so a
// client that sends a byte now and then holds its worker for ever. Here
// every connection carries one request, read against one deadline.
class BoundedServer final : public httplib::Server {
public:
    explicit BoundedServer(const Limits& limits) : limits_(limits) {}

private:
    bool process_and_close_socket(socket_t sock) override {
        BoundedStream stream(sock, Clock::now() + limits_.request_time, kHeadBytes + limits_.form_bytes);
        bool closed = false;
        const bool served = process_request(stream, true, closed, nullptr);
        // What the client still sends (a refused body) is read and dropped
        // for a moment, so that it sees the answer rather than a reset.
        ::shutdown(sock, SHUT_WR);
        const Clock::time_point until = Clock::now() + std::chrono::seconds(1);
        char sink[16384];
        std::size_t dropped = 0;
        while (dropped < (1u << 20) && WaitFor(sock, POLLIN, until)) {
            const ssize_t n = ::recv(sock, sink, sizeof(sink), 0);
            if (n <= 0) break;
            dropped += static_cast<std::size_t>(n);
        }
        ::close(sock);
        return served;
    }

    Limits limits_;
};

}  // namespace

struct Server::Impl {
    explicit Impl(const Limits& limits) : http(limits) {}
    std::string mail_dir;
    BoundedServer http;
};

Server::Server(std::string mail_dir, Limits limits) : impl_(std::make_unique<Impl>(limits)) {
    impl_->mail_dir = std::move(mail_dir);
    Impl* impl = impl_.get();
    httplib::Server& http = impl_->http;
    // Enough workers that connections which send nothing do not hold up the
    // forms behind them.
    const std::size_t workers = std::max<std::size_t>(limits.workers, 1);
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    http.set_payload_max_length(limits.form_bytes);
    // Only one server on a port: no SO_REUSEPORT, which would let a second
    // one share it.
    http.set_socket_options([](socket_t sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    // Every answer of the form is a page with status 200, refusals included.
    // The body is read here rather than by the library, which would refuse
    // a form past 8 KiB on its own.
    const std::size_t limit = limits.form_bytes;
    http.Post("/WorldClient.dll", [impl, limit](const httplib::Request&, httplib::Response& response,
                                                const httplib::ContentReader& read) {
        std::string body;
        bool too_long = false;
        const bool whole = read([&](const char* data, size_t length) {
            too_long = body.size() + length > limit;
            if (!too_long) body.append(data, length);
            return !too_long;
        });
        // A body cut short is no form: nothing is done with it.
        if (too_long || !whole) {
            if (response.status != 413) response.status = too_long ? 413 : 400;
            return;
        }
        const Answer answer = NewAccount(impl->mail_dir, body);
        response.status = 200;
        response.set_content(answer.page, "text/html; charset=utf-8");
    });
    // A body stated longer than the limit is refused before it is read.
    http.set_pre_routing_handler([limit](const httplib::Request& request, httplib::Response& response) {
        const std::string length = request.get_header_value("Content-Length");
        if (length.empty() || std::strtoull(length.c_str(), nullptr, 10) <= limit)
            return httplib::Server::HandlerResponse::Unhandled;
        response.status = 413;
        return httplib::Server::HandlerResponse::Handled;
    });
    http.set_error_handler([limit](const httplib::Request&, httplib::Response& response) {
        if (response.status == 413) {
            response.set_content("<html><head><title>Error</title></head><body><p>The form is longer than " +
                                     std::to_string(limit) + " bytes.</p></body></html>\n",
                                 "text/html; charset=utf-8");
        }
    });
}

Server::~Server() { Stop(); }

int Server::Bind(int port) {
    errno = 0;
    if (port == 0) return impl_->http.bind_to_any_port("127.0.0.1");
    return impl_->http.bind_to_port("127.0.0.1", port) ? port : -1;
}

bool Server::Run() { return impl_->http.listen_after_bind(); }

void Server::Stop() { impl_->http.stop(); }

}  // namespace quorvel::webmail
