// quorvel help [METHOD], `--help` of the host and of every command, and
// where the host finds what comes with it. The texts are the reference's
// (docs/methods.md, docs/host.md), generated into the host.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/posix/runtime/machine_folder.h"
#include "quorvel_reference.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

void Print(FILE* to, std::string_view text) { std::fwrite(text.data(), 1, text.size(), to); }

std::string_view Section(std::string_view name) {
    for (const reference::HostSection& section : reference::HostSections()) {
        if (section.name == name) return section.text;
    }
    return {};
}

// A section's usage: its lines up to the first blank one.
std::string_view UsageOf(std::string_view section) {
    const std::size_t end = section.find("\n\n");
    return end == std::string_view::npos ? section : section.substr(0, end + 1);
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::filesystem::path Self() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec);
}

// In the build tree the library lies beside the host.
bool InBuildTree() {
    std::error_code ec;
    return std::filesystem::exists(Self().parent_path() / "libquorvel.so", ec);
}

std::filesystem::path Installed(const char* relative) {
    return (Self().parent_path() / relative).lexically_normal();
}

}  // namespace

// In the build tree the library lies beside the host; installed, it lies in
// the prefix's library folder, found from the host's own place so that a
// prefix can be moved or chosen at install time.
std::string DefaultLibrary() {
    const std::filesystem::path self = Self();
    if (self.empty()) return QUORVEL_DEFAULT_LIBRARY;
    if (InBuildTree()) return (self.parent_path() / "libquorvel.so").string();
    return Installed(QUORVEL_INSTALLED_LIBRARY).string();
}

std::filesystem::path ExampleMachine() {
    return InBuildTree() ? std::filesystem::path(QUORVEL_SOURCE_EXAMPLE) : Installed(QUORVEL_INSTALLED_EXAMPLE);
}

std::filesystem::path ReferenceFolder() {
    return InBuildTree() ? std::filesystem::path(QUORVEL_SOURCE_DOCS) : Installed(QUORVEL_INSTALLED_DOCS);
}

bool AsksForHelp(const Args& args) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

int CommandUsageError(std::string_view command, const std::string& message) {
    const std::string prefix = command == "quorvel" ? "quorvel" : "quorvel " + std::string(command);
    std::fprintf(stderr, "%s: %s\nusage:\n", prefix.c_str(), message.c_str());
    Print(stderr, UsageOf(Section(command)));
    std::fprintf(stderr, "`%s --help` says more.\n", prefix.c_str());
    return kExitUsage;
}

int PrintCommandHelp(std::string_view command) {
    Print(stdout, Section(command));
    return std::fflush(stdout) == 0 ? kExitOk : kExitUnavailable;
}

int PrintHostHelp() {
    Print(stdout, Section("quorvel"));
    for (const char* name : {"Environment", "Exit status", "Files"}) {
        std::printf("\n%s\n", name);
        Print(stdout, Section(name));
    }
    const char* named = std::getenv("QUORVEL_MACHINE");
    const std::filesystem::path machine = posix::LocateMachineFolder();
    std::printf("\nHere\nThe machine folder is %s (%s).\n", machine.empty() ? "not set" : machine.c_str(),
                named != nullptr && *named != '\0' ? "QUORVEL_MACHINE" : "the default");
    std::printf("The method reference: `quorvel help [METHOD]`, `man quorvel`, and %s.\n",
                (ReferenceFolder() / "methods.md").c_str());
    return std::fflush(stdout) == 0 ? kExitOk : kExitUnavailable;
}

int RunHelp(const Args& args) {
    if (AsksForHelp(args)) return PrintCommandHelp("help");
    if (args.size() > 1) return CommandUsageError("help", "one method at a time");
    if (args.empty()) {
        std::printf("The methods of Quorvel.SiteManage (`quorvel help METHOD` for one, "
                    "`quorvel help all` for the whole reference):\n\n");
        Print(stdout, reference::MethodList());
        std::printf("\nEach returns a result code (0: done) and writes the reason for each failure to DllErr.log\n"
                    "beside the component library; `quorvel call` prints those lines on stderr.\n");
        return std::fflush(stdout) == 0 ? kExitOk : kExitUnavailable;
    }
    if (SameLetters(args[0], "all")) {
        Print(stdout, reference::WholeText());
        return std::fflush(stdout) == 0 ? kExitOk : kExitUnavailable;
    }
    for (const reference::MethodEntry& method : reference::Methods()) {
        if (!SameLetters(method.name, args[0])) continue;
        Print(stdout, method.text);
        return std::fflush(stdout) == 0 ? kExitOk : kExitUnavailable;
    }
    return CommandUsageError("help", "no method " + args[0] + "; `quorvel help` lists them");
}

}  // namespace quorvel::cli
