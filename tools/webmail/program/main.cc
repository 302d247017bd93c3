// quorvel-webmail --mail-dir DIR --port N [--background]: the webmail
// stand-in, in the foreground until SIGINT or SIGTERM, or in the background.
// `quorvel webmail` checks the arguments, finds the port and runs this in
// its own place (exec), so that the host itself never loads the HTTP server
// and its TLS libraries.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mail/files/paths.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "support/find_file.h"
#include "support/profile.h"
#include "support/strings.h"
#include "tools/webmail/server.h"

namespace quorvel::webmail {
namespace {

// As the host's other commands exit (sysexits.h values).
constexpr int kExitOk = 0;
constexpr int kExitUsage = 64;
constexpr int kExitUnavailable = 69;

constexpr char16_t kSettingsSection[] = u"Default:Settings";

using Args = std::vector<std::string>;

int Usage(const std::string& message) {
    std::fprintf(stderr, "quorvel webmail: %s\n`quorvel webmail --help` says more.\n", message.c_str());
    return kExitUsage;
}

// A port the server took other than the settings' goes into the settings,
// where the component looks for it (when they are there: a mail server
// without them stays without).
bool PublishPort(const std::u16string& settings, int bound) {
    if (!FindsFile(settings)) return false;
    const std::u16string port = platform::FromUtf8(std::to_string(bound));
    if (TrimSpaces(ReadIniValue(kSettingsSection, u"Port", 255, settings)) == port) return false;
    return WriteIniValue(kSettingsSection, u"Port", port, settings);
}

// Parent: says the server listens and returns; child: serves, its output
// going nowhere, so that it holds no caller's pipe.
bool Detach(int port) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) return false;
    if (child > 0) {
        std::printf("listening on 127.0.0.1:%d\nrunning in the background as process %d; stop it with `kill %d`\n",
                    port, static_cast<int>(child), static_cast<int>(child));
        std::fflush(stdout);
        _exit(kExitOk);
    }
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
        ::close(null);
    }
    return true;
}

int Run(const Args& args) {
    std::string mail_dir;
    std::string port_text;
    bool background = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--background") {
            background = true;
        } else if (a == "--mail-dir" && i + 1 < args.size()) {
            mail_dir = args[++i];
        } else if (a == "--port" && i + 1 < args.size()) {
            port_text = args[++i];
        } else {
            return Usage("unknown argument " + a);
        }
    }
    if (mail_dir.empty()) return Usage("--mail-dir is required");
    const int port = ParsePort(port_text);
    if (port < 0) return Usage("not a port number: " + port_text);
    const std::string mail_dir_ansi = platform::ToAnsi(platform::FromUtf8(mail_dir));
    const std::u16string settings = mail::WebmailSettingsPath(platform::FromUtf8(mail_dir));

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
    if (PublishPort(settings, bound)) {
        std::fprintf(stderr, "quorvel webmail: Port=%d written to %s\n", bound, platform::ToUtf8(settings).c_str());
    }
    if (background) {
        if (!Detach(bound)) {
            std::fprintf(stderr, "quorvel webmail: cannot go on in the background: %s\n", std::strerror(errno));
            return kExitUnavailable;
        }
    } else {
        std::printf("listening on 127.0.0.1:%d\n", bound);
        std::fflush(stdout);
    }
    std::thread waiter([&] {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        server.Stop();
    });
    const bool served = server.Run();
    // Wake the waiter when the server ended on its own.
    ::kill(::getpid(), SIGTERM);
    waiter.join();
    return served ? kExitOk : kExitUnavailable;
}

}  // namespace
}  // namespace quorvel::webmail

int main(int argc, char** argv) { return quorvel::webmail::Run({argv + 1, argv + argc}); }
