// SendSmtp over Winsock: the SMTP dialogue of one message (EHLO, AUTH PLAIN
// when a user name is given and the server offers it, MAIL, RCPT, DATA,
// QUIT), all of it within one deadline.
#include "platform/smtp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>

#include "platform/base64.h"
#include "platform/time_limits.h"

namespace quorvel::platform {
namespace {

using Clock = std::chrono::steady_clock;

class Winsock {
public:
    Winsock() { ok_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~Winsock() {
        if (ok_) WSACleanup();
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool ok() const { return ok_; }

private:
    WSADATA data_{};
    bool ok_ = false;
};

// A connection whose every wait (connecting, sending, each reply) ends at
// one deadline for the whole dialogue: a server that answers slowly, step by
// step, cannot stretch it. The name lookup before it is not bounded.
class Connection {
public:
    explicit Connection(Clock::time_point deadline) : deadline_(deadline) {}
    ~Connection() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool timed_out() const { return Clock::now() >= deadline_; }

    bool Open(const std::string& host, const std::string& port, Clock::time_point connect_deadline) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
        const Clock::time_point until = std::min(deadline_, connect_deadline);
        for (addrinfo* a = found; a != nullptr && socket_ == INVALID_SOCKET; a = a->ai_next) {
            SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (s == INVALID_SOCKET) continue;
            u_long non_blocking = 1;
            int error = 0;
            int size = sizeof(error);
            const bool connected =
                ioctlsocket(s, FIONBIO, &non_blocking) == 0 &&
                (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 ||
                 (WSAGetLastError() == WSAEWOULDBLOCK && Wait(s, kWrite, until) &&
                  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && error == 0));
            if (connected) {
                socket_ = s;
            } else {
                closesocket(s);
            }
        }
        freeaddrinfo(found);
        return socket_ != INVALID_SOCKET;
    }
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            if (!Wait(socket_, kWrite, deadline_)) return false;
            const int n = send(socket_, bytes.data(), static_cast<int>(std::min<size_t>(bytes.size(), 1 << 20)), 0);
            if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }
    // One reply, all its lines; its code, 0 when the connection broke or the
    // deadline passed.
    int Reply(std::string& text) {
        text.clear();
        for (;;) {
            const size_t end = buffer_.find("\r\n");
            if (end == std::string::npos) {
                if (!Wait(socket_, kRead, deadline_)) return 0;
                char chunk[1024];
                const int n = recv(socket_, chunk, sizeof(chunk), 0);
                if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
                if (n <= 0) return 0;
                buffer_.append(chunk, static_cast<size_t>(n));
                continue;
            }
            const std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            text += line + "\n";
            if (line.size() < 3) return 0;
            if (line.size() == 3 || line[3] == ' ') return std::atoi(line.substr(0, 3).c_str());
        }
    }
    // Sends a command and says whether the reply has the wanted class (2 or 3).
    bool Command(const std::string& command, char wanted, std::string& reply) {
        if (!Send(command + "\r\n")) return false;
        const int code = Reply(reply);
        return code / 100 == wanted - '0';
    }

private:
    enum Direction { kRead, kWrite };

    // Until the socket is ready, or false at the deadline. Failed connects
    // show in the exception set.
    static bool Wait(SOCKET s, Direction direction, Clock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now());
        if (left.count() <= 0) return false;
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);
        timeval timeout{static_cast<long>(left.count() / 1000000), static_cast<long>(left.count() % 1000000)};
        const int n = select(0, direction == kRead ? &ready : nullptr, direction == kWrite ? &ready : nullptr,
                             &failed, &timeout);
        return n > 0 && FD_ISSET(s, &ready) && !FD_ISSET(s, &failed);
    }

    Clock::time_point deadline_;
    SOCKET socket_ = INVALID_SOCKET;
    std::string buffer_;
};

// Lines beginning with a point get another one (RFC 5321 4.5.2).
std::string DotStuffed(const std::string& message) {
    std::string out;
    out.reserve(message.size() + 16);
    bool line_start = true;
    for (char c : message) {
        if (line_start && c == '.') out += '.';
        out += c;
        line_start = c == '\n';
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
    return out;
}

}  // namespace

SmtpResult SendSmtp(const SmtpDelivery& delivery) {
    if (SmtpResult refused = CheckEnvelope(delivery); refused.failure != SmtpFailure::kNone) return refused;
    if (delivery.server.empty()) return {SmtpFailure::kConnect, "no server address"};
    std::string host = delivery.server;
    std::string port = "25";
    if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
        port = host.substr(colon + 1);
        host.resize(colon);
    }
    const Winsock winsock;
    if (!winsock.ok()) return {SmtpFailure::kConnect, "Winsock cannot start"};
    const TimeLimits limits = CurrentTimeLimits();
    const Clock::time_point start = Clock::now();
    Connection c(start + limits.total);
    if (!c.Open(host, port, start + limits.connect))
        return {SmtpFailure::kConnect, "cannot connect to " + delivery.server};
    // A step that fails because time ran out is a time-out, whatever the step.
    std::string reply;
    auto failed = [&](SmtpFailure failure) -> SmtpResult {
        if (c.timed_out()) return {SmtpFailure::kConnect, "the server did not answer in time"};
        return {failure, reply};
    };
    if (c.Reply(reply) != 220) return failed(SmtpFailure::kConnect);
    if (!c.Command("EHLO localhost", '2', reply) && !c.Command("HELO localhost", '2', reply))
        return failed(SmtpFailure::kConnect);
    if (!delivery.user.empty() && reply.find("AUTH") != std::string::npos) {
        const std::string token = Base64(std::string(1, '\0') + delivery.user + '\0' + delivery.password);
        if (!c.Command("AUTH PLAIN " + token, '2', reply)) return failed(SmtpFailure::kLogon);
    }
    if (!c.Command("MAIL FROM:<" + delivery.from + ">", '2', reply)) return failed(SmtpFailure::kSender);
    for (const std::string& to : delivery.to)
        if (!c.Command("RCPT TO:<" + to + ">", '2', reply)) return failed(SmtpFailure::kRecipient);
    if (!c.Command("DATA", '3', reply)) return failed(SmtpFailure::kData);
    if (!c.Send(DotStuffed(delivery.message)) || !c.Command(".", '2', reply)) return failed(SmtpFailure::kData);
    // The message is taken; QUIT's answer is waited for until the deadline at most.
    c.Command("QUIT", '2', reply);
    return {};
}

std::string MailRelay() {
    char value[256] = {};
    DWORD size = sizeof(value) - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvel\\Mail", "SmtpServer", RRF_RT_REG_SZ, nullptr, value,
                     &size) == ERROR_SUCCESS &&
        value[0] != '\0') {
        return value;
    }
    return "127.0.0.1:25";
}

}  // namespace quorvel::platform
