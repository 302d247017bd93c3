// quorvel-webmail --mail-dir DIR [--port N]: the webmail stand-in in the
// foreground until SIGINT or SIGTERM. `quorvel webmail` runs it in its own
// place (exec), so that the host itself never loads the HTTP server and
// its TLS libraries.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mail/files/paths.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "support/profile.h"
#include "tools/webmail/server.h"

namespace quorvel::webmail {
namespace {

// As the host's other commands exit (sysexits.h values).
constexpr int kExitOk = 0;
constexpr int kExitUsage = 64;
constexpr int kExitUnavailable = 69;

using Args = std::vector<std::string>;

int Usage(const std::string& message) {
    std::fprintf(stderr, "quorvel webmail: %s\nusage: quorvel [--machine DIR] webmail --mail-dir DIR [--port N]\n",
                 message.c_str());
    return kExitUsage;
}

// A port number from 0 to 65535, or -1.
int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    const int port = std::atoi(text.c_str());
    return port <= 65535 ? port : -1;
}

int Run(const Args& args) {
    std::string mail_dir;
    std::string port_text;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name, std::string& into) {
            const std::string prefix = std::string(name) + "=";
            if (a == name && i + 1 < args.size()) {
                into = args[++i];
                return true;
            }
            if (a.rfind(prefix, 0) == 0) {
                into = a.substr(prefix.size());
                return true;
            }
            return false;
        };
        if (!value("--mail-dir", mail_dir) && !value("--port", port_text)) return Usage("unknown argument " + a);
    }
    if (mail_dir.empty()) return Usage("--mail-dir is required");
    const std::string mail_dir_ansi = platform::ToAnsi(platform::FromUtf8(mail_dir));

    int port = 0;
    if (port_text.empty()) {
        // The port the webmail settings name, where the component will connect.
        port_text = platform::ToUtf8(ReadIniValue(u"Default:Settings", u"Port", 255,
                                                  mail::WebmailSettingsPath(platform::FromUtf8(mail_dir))));
        if (port_text.empty()) return Usage("no --port, and the webmail settings name no Port");
    }
    port = ParsePort(port_text);
    if (port < 0) return Usage("not a port number: " + port_text);

    // The signals are taken by one thread that stops the server; the
    // server's own threads never see them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    Server server(mail_dir_ansi);
    const int bound = server.Bind(port);
    if (bound < 0) {
        const int error = errno;
        std::fprintf(stderr, "quorvel webmail: cannot listen on 127.0.0.1:%d: %s\n", port,
                     error == EADDRINUSE ? "the port is in use (another webmail server?)"
                     : error != 0        ? std::strerror(error)
                                         : "the address is not available");
        return kExitUnavailable;
    }
    std::thread waiter([&] {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        server.Stop();
    });
    std::printf("listening on 127.0.0.1:%d\n", bound);
    std::fflush(stdout);
    const bool served = server.Run();
    // Wake the waiter when the server ended on its own.
    ::kill(::getpid(), SIGTERM);
    waiter.join();
    return served ? kExitOk : kExitUnavailable;
}

}  // namespace
}  // namespace quorvel::webmail

int main(int argc, char** argv) { return quorvel::webmail::Run({argv + 1, argv + argc}); }
