// SendSmtp over Winsock: the SMTP dialogue of one message (EHLO, AUTH PLAIN
// when a user name is given and the server offers it, MAIL, RCPT, DATA).
#include "platform/smtp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <string_view>

#include "platform/base64.h"

namespace quorvel::platform {
namespace {

constexpr DWORD kTimeoutMs = 60000;

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

class Connection {
public:
    ~Connection() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }
    bool Open(const std::string& host, const std::string& port) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
        for (addrinfo* a = found; a != nullptr && socket_ == INVALID_SOCKET; a = a->ai_next) {
            SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (s == INVALID_SOCKET) continue;
            const DWORD timeout = kTimeoutMs;
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
            setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
            if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
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
            const int n = send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0);
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }
    // One reply, all its lines; its code, 0 when the connection broke.
    int Reply(std::string& text) {
        text.clear();
        for (;;) {
            const size_t end = buffer_.find("\r\n");
            if (end == std::string::npos) {
                char chunk[1024];
                const int n = recv(socket_, chunk, sizeof(chunk), 0);
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
    Connection c;
    if (!c.Open(host, port)) return {SmtpFailure::kConnect, "cannot connect to " + delivery.server};
    std::string reply;
    if (c.Reply(reply) != 220) return {SmtpFailure::kConnect, reply};
    if (!c.Command("EHLO localhost", '2', reply) && !c.Command("HELO localhost", '2', reply))
        return {SmtpFailure::kConnect, reply};
    if (!delivery.user.empty() && reply.find("AUTH") != std::string::npos) {
        const std::string token = Base64(std::string(1, '\0') + delivery.user + '\0' + delivery.password);
        if (!c.Command("AUTH PLAIN " + token, '2', reply)) return {SmtpFailure::kLogon, reply};
    }
    if (!c.Command("MAIL FROM:<" + delivery.from + ">", '2', reply)) return {SmtpFailure::kSender, reply};
    for (const std::string& to : delivery.to)
        if (!c.Command("RCPT TO:<" + to + ">", '2', reply)) return {SmtpFailure::kRecipient, reply};
    if (!c.Command("DATA", '3', reply)) return {SmtpFailure::kData, reply};
    if (!c.Send(DotStuffed(delivery.message)) || !c.Command(".", '2', reply)) return {SmtpFailure::kData, reply};
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
