// The webmail stand-in: an HTTP server on 127.0.0.1 that serves the
// new-account form at POST /WorldClient.dll.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace quorvel::webmail {

// What one connection may take, so that slow or endless clients can neither
// stall the forms of others nor fill the memory.
struct Limits {
    // The whole request, head and body, must have arrived within this time
    // of the connection being taken up; then the connection is closed.
    std::chrono::milliseconds request_time{10000};
    // A form is a few hundred bytes; a longer body is answered 413 unread.
    std::size_t form_bytes = 64 * 1024;
    // Connections served at once; more wait for a free one.
    std::size_t workers = 64;
};

class Server {
public:
    // `mail_dir`: the mail server's folder (Windows form, system code page).
    explicit Server(std::string mail_dir, Limits limits = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds 127.0.0.1:port (0: a free port) and returns the port, or -1 with
    // errno telling why (EADDRINUSE: another program listens there).
    // Connections wait from then on.
    int Bind(int port);
    // Serves until Stop; false when it could not.
    bool Run();
    // From any thread.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel::webmail
