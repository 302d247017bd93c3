// quorvel webmail --mail-dir DIR [--port N] [--background]: the webmail
// stand-in, in the foreground until SIGINT or SIGTERM, or in the background.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/ascii.h"
#include "mail/files/paths.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "support/find_file.h"
#include "support/profile.h"
#include "support/strings.h"
#include "tools/quorvel/cli.h"
#include "tools/webmail/server.h"

namespace quorvel::cli {
namespace {

constexpr char16_t kSettingsSection[] = u"Default:Settings";

int Usage(const std::string& message) { return CommandUsageError("webmail", message); }

// A port number from 0 to 65535, or -1.
int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    const int port = std::atoi(text.c_str());
    return port <= 65535 ? port : -1;
}

// A port the server took other than the settings' goes into the settings,
// where the component looks for it (when they are there: a mail server
// without them stays without).
bool PublishPort(const std::u16string& settings, int bound) {
    if (base::ToUpperAscii(FindFile(settings)) != u"DOMAINS.INI") return false;
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

}  // namespace

int RunWebmail(const Args& args) {
    if (AsksForHelp(args)) return PrintCommandHelp("webmail");
    std::string mail_dir;
    std::string port_text;
    bool background = false;
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
        if (a == "--background") {
            background = true;
        } else if (!value("--mail-dir", mail_dir) && !value("--port", port_text)) {
            return Usage("unknown argument " + a);
        }
    }
    if (mail_dir.empty()) return Usage("--mail-dir is required");
    const std::string mail_dir_ansi = platform::ToAnsi(platform::FromUtf8(mail_dir));
    const std::u16string settings = mail::WebmailSettingsPath(platform::FromUtf8(mail_dir));

    int port = 0;
    if (port_text.empty()) {
        // The port the webmail settings name, where the component will connect.
        port_text = platform::ToUtf8(TrimSpaces(ReadIniValue(kSettingsSection, u"Port", 255, settings)));
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

    webmail::Server server(mail_dir_ansi);
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
        std::fprintf(stderr, "quorvel webmail: Port=%d written to %s\n", bound,
                     platform::ToUtf8(settings).c_str());
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

}  // namespace quorvel::cli
