// A TCP server on 127.0.0.1 for tests that talk to outside servers: each
// connection is handed to the test's handler on the server's own thread, one
// at a time. POSIX only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace quorvel::test {

class LocalServer {
public:
    // The handler gets the connected socket and the server's stop flag.
    using Handler = std::function<void(int fd, const std::atomic<bool>& stopping)>;

    explicit LocalServer(Handler handler) : handler_(std::move(handler)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LocalServer() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        close(listener_);
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
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0) continue;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            ++connections_;
            if (handler_) handler_(fd, stopping_);
            close(fd);
        }
    }

    Handler handler_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// Reads from `fd` until `end` has arrived (or the peer closes, or the
// server stops); returns what was read.
inline std::string ReadUntil(int fd, std::string_view end, const std::atomic<bool>& stopping) {
    std::string got;
    char buffer[4096];
    while (!stopping && got.find(end) == std::string::npos) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, 20) <= 0) continue;
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

// Sends all of `bytes`; false when the peer has gone.
inline bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Waits until the server stops (a peer that never answers).
inline void StaySilent(const std::atomic<bool>& stopping) {
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace quorvel::test
