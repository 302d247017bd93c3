// A TCP server on 127.0.0.1 for tests that talk to outside servers: each
// connection is handed to the test's handler on the server's own thread, one
// at a time. Builds with BSD sockets and with Winsock, so a test of a seam
// that talks to a server runs unchanged in both builds.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "test_thread.h"

namespace quorvel::test {

#ifdef _WIN32

using Socket = SOCKET;
inline constexpr Socket kNoSocket = INVALID_SOCKET;
inline int PollSocket(Socket fd, int ms) {
    WSAPOLLFD waiting{fd, POLLRDNORM, 0};
    return WSAPoll(&waiting, 1, ms);
}
inline void CloseSocket(Socket fd) { closesocket(fd); }
inline constexpr int kSendFlags = 0;
using AddressSize = int;
// Winsock wants one start per process before any socket call.
inline bool StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
inline int PollSocket(Socket fd, int ms) {
    pollfd waiting{fd, POLLIN, 0};
    return poll(&waiting, 1, ms);
}
inline void CloseSocket(Socket fd) { close(fd); }
inline constexpr int kSendFlags = MSG_NOSIGNAL;
using AddressSize = socklen_t;
inline bool StartSockets() { return true; }
#endif

class LocalServer {
public:
    // The handler gets the connected socket and the server's stop flag.
    using Handler = std::function<void(Socket fd, const std::atomic<bool>& stopping)>;

    explicit LocalServer(Handler handler) : handler_(std::move(handler)) {
        if (!StartSockets()) {
            ADD_FAILURE() << "cannot start sockets";
            return;
        }
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        AddressSize size = sizeof(address);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_.emplace([this] { Serve(); });
    }
    ~LocalServer() {
        stopping_ = true;
        if (thread_ && thread_->joinable()) thread_->join();
        if (listener_ != kNoSocket) CloseSocket(listener_);
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    int connections() const { return connections_; }

    // A port on which nothing listens (taken and given back at once).
    static std::uint16_t ClosedPort() {
        LocalServer probe(nullptr);
        return probe.port();
    }

private:
    void Serve() {
        while (!stopping_) {
            if (PollSocket(listener_, 20) <= 0) continue;
            const Socket fd = accept(listener_, nullptr, nullptr);
            if (fd == kNoSocket) continue;
            ++connections_;
            if (handler_) handler_(fd, stopping_);
            CloseSocket(fd);
        }
    }

    Handler handler_;
    Socket listener_ = kNoSocket;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::optional<TestThread> thread_;
};

// Reads from `fd` until `end` has arrived (or the peer closes, or the
// server stops); returns what was read.
inline std::string ReadUntil(Socket fd, std::string_view end, const std::atomic<bool>& stopping) {
    std::string got;
    char buffer[4096];
    while (!stopping && got.find(end) == std::string::npos) {
        if (PollSocket(fd, 20) <= 0) continue;
        const auto n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

// What arrives next on `fd`: empty when the peer closes or the server stops.
inline std::string ReadSome(Socket fd, const std::atomic<bool>& stopping) {
    char buffer[4096];
    while (!stopping) {
        if (PollSocket(fd, 20) <= 0) continue;
        const auto n = recv(fd, buffer, sizeof(buffer), 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    return {};
}

// One HTTP request, its head and the body its Content-Length announces;
// empty when it does not arrive whole.
inline std::string ReadHttpRequest(Socket fd, const std::atomic<bool>& stopping) {
    std::string got = ReadUntil(fd, "\r\n\r\n", stopping);
    const std::size_t head_end = got.find("\r\n\r\n");
    if (head_end == std::string::npos) return {};
    const std::size_t at = got.substr(0, head_end).find("\r\nContent-Length: ");
    const std::size_t length = at == std::string::npos ? 0 : std::stoul(got.substr(at + 18));
    while (!stopping && got.size() < head_end + 4 + length) {
        const std::string more = ReadSome(fd, stopping);
        if (more.empty()) return {};
        got += more;
    }
    return got;
}

// Sends all of `bytes`; false when the peer has gone.
inline bool SendAll(Socket fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto n = send(fd, bytes.data(), static_cast<int>(bytes.size()), kSendFlags);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Waits until the server stops (a peer that never answers).
inline void StaySilent(const std::atomic<bool>& stopping) {
    while (!stopping) PauseMs(10);
}

}  // namespace quorvel::test
