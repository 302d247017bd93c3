// The WinExec stand-in: the command line is split as a Windows program would
// split it and the program started directly, without a shell, so that no
// character of it is ever interpreted by one. The arguments reach the program
// in UTF-8, as POSIX programs take them.
#include "platform/process.h"

#include <cerrno>

#include "platform/files.h"
#include "platform/posix/command_line.h"
#include "platform/posix/paths.h"
#include "platform/posix/runtime/start.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::platform {
namespace {

constexpr std::uint32_t kStarted = 33;
constexpr std::uint32_t kOutOfResources = 0;
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kBadFormat = 11;

bool NamesAFolder(std::string_view program) {
    return program.find_first_of("\\/") != std::string_view::npos ||
           (program.size() >= 2 && program[1] == ':');
}

// Where a program named without a folder is looked for: beside the component
// (the build tree keeps the interpreter and the ACL tool there), in the
// installation's private folder for them (libexec/quorvel, where their
// generic names shadow no system command), in the bin/ beside the library's
// folder (where older installations put them), then PATH.
std::vector<std::filesystem::path> ProgramFolders() {
    const std::filesystem::path library = posix::MapAnsiPath(ModuleFolder());
    return {library, (library / QUORVEL_LIBEXEC_FROM_LIBRARY).lexically_normal(), library.parent_path() / "bin"};
}

}  // namespace

std::uint32_t WinExec(std::string_view command_line) {
    std::vector<std::string> argv;
    for (const std::u16string& arg : posix::SplitCommandLine(FromAnsi(command_line))) argv.push_back(ToUtf8(arg));
    if (argv.empty() || argv[0].empty()) return kFileNotFound;

    std::filesystem::path program;
    if (NamesAFolder(argv[0])) {
        program = posix::MapWindowsPath(argv[0]);
    } else {
        const auto found = posix::FindProgram(argv[0], ProgramFolders());
        if (!found) return kFileNotFound;
        program = *found;
    }
    switch (posix::StartDetached(program, argv)) {
        case 0:
            return kStarted;
        case ENOENT:
            return kFileNotFound;
        case ENOTDIR:
            return kPathNotFound;
        case ENOEXEC:
        case EACCES:
        case EISDIR:
            return kBadFormat;
        default:
            return kOutOfResources;
    }
}

}  // namespace quorvel::platform
