// quorvel: the POSIX counterpart of a script host and of regsvr32 for the
// component library.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

constexpr const char kUsage[] =
    "usage: quorvel [--machine DIR] regsvr [-u] [LIBRARY]\n"
    "       quorvel --version\n"
    "       quorvel [--machine DIR] call METHOD [ARG ...] [--PARAM=VALUE ...]\n"
    "       quorvel methods\n"
    "       quorvel [--machine DIR] adsi VERB ARGS...\n"
    "       quorvel [--machine DIR] webmail --mail-dir DIR [--port N]\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "quorvel: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

// The library reads its machine folder from the environment, as the host does.
bool SetMachine(const std::string& dir) {
    if (dir.empty()) return false;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
    return !ec && setenv("QUORVEL_MACHINE", absolute.c_str(), 1) == 0;
}

}  // namespace

std::string HexCode(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

// In the build tree the library lies beside the host; installed, it lies in
// the prefix's library folder, found from the host's own place so that a
// prefix can be moved or chosen at install time.
std::string DefaultLibrary() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return QUORVEL_DEFAULT_LIBRARY;
    const std::filesystem::path beside = self.parent_path() / "libquorvel.so";
    if (std::filesystem::exists(beside, ec)) return beside.string();
    return (self.parent_path() / QUORVEL_INSTALLED_LIBRARY).lexically_normal().string();
}

int Main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    std::size_t i = 0;
    while (i < args.size() && args[i].rfind("-", 0) == 0) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (option == "--version") return RunVersion();
        if (option == "--machine" || option.rfind("--machine=", 0) == 0) {
            std::string dir;
            if (option == "--machine") {
                if (i + 1 >= args.size()) return UsageError("--machine needs a folder");
                dir = args[++i];
            } else {
                dir = option.substr(10);
            }
            if (!SetMachine(dir)) return UsageError("cannot use '" + dir + "' as the machine folder");
            ++i;
            continue;
        }
        return UsageError("unknown option " + option);
    }
    if (i >= args.size()) return UsageError("no command given");
    const std::string command = args[i];
    const Args rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    if (command == "regsvr") return RunRegsvr(rest);
    if (command == "call") return RunCall(rest);
    if (command == "methods") return RunMethods(rest);
    if (command == "adsi") return RunAdsi(rest);
    if (command == "webmail") return RunWebmail(rest);
    if (command == "doctor") return RunDoctor(rest);
    return UsageError("unknown command " + command);
}

}  // namespace quorvel::cli

int main(int argc, char** argv) { return quorvel::cli::Main(argc, argv); }
