// The webmail stand-in: an HTTP server on 127.0.0.1 that serves the
// new-account form at POST /WorldClient.dll.
#pragma once

#include <memory>
#include <string>

namespace quorvel::webmail {

class Server {
public:
    // `mail_dir`: the mail server's folder (Windows form, system code page).
    explicit Server(std::string mail_dir);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds 127.0.0.1:port (0: a free port) and returns the port, or -1.
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
