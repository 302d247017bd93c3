// quorvel webmail: the webmail stand-in is a program of its own, run in the
// host's place (same process, same signals, same output), so that the host
// loads the HTTP server and its TLS libraries for this command only.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

// Beside the host in the build tree; installed, where the prefix keeps
// helper programs, found from the host's own place.
std::string WebmailProgram() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return QUORVEL_DEFAULT_WEBMAIL;
    const std::filesystem::path beside = self.parent_path() / "quorvel-webmail";
    if (std::filesystem::exists(beside, ec)) return beside.string();
    return (self.parent_path() / QUORVEL_INSTALLED_WEBMAIL).lexically_normal().string();
}

}  // namespace

int RunWebmail(const Args& args) {
    const std::string program = WebmailProgram();
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    execv(program.c_str(), argv.data());
    std::fprintf(stderr, "quorvel webmail: cannot run %s: %s; rebuild or reinstall quorvel\n", program.c_str(),
                 std::strerror(errno));
    return kExitUnavailable;
}

}  // namespace quorvel::cli
