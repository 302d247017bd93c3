// quorvel: the POSIX counterpart of a script host and of regsvr32 for the
// component library.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

int UsageError(const std::string& message) { return CommandUsageError("quorvel", message); }

// The library reads its machine folder from the environment, as the host does.
bool SetMachine(const std::string& dir) {
    if (dir.empty()) return false;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
    return !ec && setenv("QUORVEL_MACHINE", absolute.c_str(), 1) == 0;
}

enum class Machine {
    kNone,      // works without one (help, methods)
    kExisting,  // works on one that must exist (call, adsi, webmail)
    kMade,      // makes it when it does not exist (regsvr, init: after reading their arguments)
};

struct Command {
    std::string_view name;
    int (*run)(const Args&);
    Machine machine;
};

constexpr Command kCommands[] = {
    {"help", RunHelp, Machine::kNone},          {"init", RunInit, Machine::kMade},
    {"regsvr", RunRegsvr, Machine::kMade},      {"call", RunCall, Machine::kExisting},
    {"methods", RunMethods, Machine::kNone},    {"adsi", RunAdsi, Machine::kExisting},
    {"webmail", RunWebmail, Machine::kExisting},
};

}  // namespace

std::string HexCode(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

int Main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    std::size_t i = 0;
    while (i < args.size() && args[i].rfind("-", 0) == 0) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") return PrintHostHelp();
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
    const std::string name = args[i];
    const Args rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    for (const Command& command : kCommands) {
        if (command.name != name) continue;
        if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) return PrintCommandHelp(name);
        if (command.machine == Machine::kExisting) {
            if (const int status = RequireMachine(name); status != kExitOk) return status;
        }
        return command.run(rest);
    }
    return UsageError("unknown command " + name);
}

}  // namespace quorvel::cli

int main(int argc, char** argv) { return quorvel::cli::Main(argc, argv); }
