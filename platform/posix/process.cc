// The WinExec stand-in: the command line is split as a Windows program would
// split it and the program started directly, without a shell, so that no
// character of it is ever interpreted by one. The arguments reach the program
// in UTF-8, as POSIX programs take them.
#include "platform/process.h"

#include "platform/files.h"
#include "platform/posix/command_line.h"
#include "platform/posix/paths.h"
#include "platform/posix/runtime/start.h"
#include "platform/posix/system_error.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::platform {
namespace {

// WinExec's own results: above 32 when the program started; otherwise 0 or
// one of the system errors it keeps (file or path not found, bad format).
constexpr std::uint32_t kStarted = 33;
constexpr std::uint32_t kOutOfResources = 0;

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
    if (argv.empty() || argv[0].empty()) return kErrorFileNotFound;

    std::filesystem::path program;
    if (NamesAFolder(argv[0])) {
        program = posix::MapWindowsPath(argv[0]);
    } else {
        const auto found = posix::FindProgram(argv[0], ProgramFolders());
        if (!found) return kErrorFileNotFound;
        program = *found;
    }
    const int error = posix::StartDetached(program, argv);
    if (error == 0) return kStarted;
    // A program it may not run is one of a bad format to WinExec.
    switch (const std::uint32_t failure = posix::SystemErrorOf(error)) {
        case kErrorFileNotFound:
        case kErrorPathNotFound:
        case kErrorBadFormat: return failure;
        case kErrorAccessDenied: return kErrorBadFormat;
        default: return kOutOfResources;
    }
}

}  // namespace quorvel::platform
