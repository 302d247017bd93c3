// Looking through a machine's folders, as quorvel doctor does: the entries
// of a folder, the fixed drives, and the names that the component's own
// leftovers take in this build (the copy an interrupted replacement left
// beside its file, a lock file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::platform {

struct FolderEntry {
    std::string name;  // system code page
    bool folder = false;
    bool hidden = false;
};

// The entries of a folder (Windows form, system code page), "." and ".."
// left out, in no particular order; nullopt when it cannot be read.
std::optional<std::vector<FolderEntry>> ListFolder(std::string_view path);

// The fixed drives of the machine, as "C:", "D:".
std::vector<std::string> FixedDrives();

// A copy that a replacement of the file `target` (a name in the same
// folder) writes before moving it over the file, and the process that
// wrote it (0 when the name does not say).
struct ReplacementCopy {
    std::string target;
    std::uint32_t process = 0;
};
std::optional<ReplacementCopy> ReplacementCopyOf(std::string_view name);
// The process of "PID-N", the end both builds give a per-process copy's
// name; nothing when it is not that.
std::optional<std::uint32_t> CopyWriterOf(std::string_view pid_dash_n);

// Whether a process of that id runs on this machine (true when that cannot
// be told).
bool ProcessRunning(std::uint32_t process);

// The file whose lock a lock file of that name is (a name in the same
// folder); nullopt for another name, and always where locks are not files.
std::optional<std::string> LockFileTarget(std::string_view name);

}  // namespace quorvel::platform
