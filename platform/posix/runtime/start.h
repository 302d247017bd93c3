// Starting programs without a shell, for the stand-ins of WinExec, the
// command interpreter and the shutdown commands.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::posix {

// The program a name without a folder stands for: the first file of the
// folders, then of PATH, whose name matches without regard to case, as
// Windows finds "CACLS" or "cmd.exe"; a trailing ".exe" may be left out on disk.
std::optional<std::filesystem::path> FindProgram(std::string_view name,
                                                 const std::vector<std::filesystem::path>& folders);

// Starts `program` with `argv` (argv[0] included) detached: in a session of
// its own, standard handles on /dev/null, never waited for (it belongs to
// init once started). 0 when it started, else the errno of the failure.
int StartDetached(const std::filesystem::path& program, const std::vector<std::string>& argv);

}  // namespace quorvel::posix
