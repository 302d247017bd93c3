#include "platform/folders.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/posix/machine.h"
#include "platform/posix/paths.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::platform {

std::optional<std::vector<FolderEntry>> ListFolder(std::string_view path) {
    const std::filesystem::path folder = posix::MapAnsiPath(path);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<FolderEntry> entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool is_folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st {};
            is_folder = ::stat((folder / std::string(name)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({ToAnsi(FromUtf8(name)), is_folder, name.front() == '.'});
    }
    ::closedir(dir);
    return entries;
}

std::vector<std::string> FixedDrives() {
    std::vector<std::string> drives;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::error_code ec;
        if (std::filesystem::is_directory(posix::DriveFolder(letter), ec)) drives.push_back(std::string(1, letter) + ":");
    }
    return drives;
}

// ".NAME.tmpPID-N", as platform/posix/atomic_file.cc names its copies.
std::optional<ReplacementCopy> ReplacementCopyOf(std::string_view name) {
    if (name.size() < 2 || name.front() != '.') return std::nullopt;
    const size_t tmp = name.rfind(".tmp");
    if (tmp == std::string_view::npos || tmp < 2) return std::nullopt;
    const std::string_view rest = name.substr(tmp + 4);
    const std::optional<std::uint32_t> process = CopyWriterOf(rest);
    if (!process) return std::nullopt;
    return ReplacementCopy{std::string(name.substr(1, tmp - 1)), *process};
}

bool ProcessRunning(std::uint32_t process) {
    if (process == 0) return true;
    return ::kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH;
}

// ".NAME.lock", as platform/posix/profile_io.cc names a file's lock.
std::optional<std::string> LockFileTarget(std::string_view name) {
    constexpr std::string_view kEnding = ".lock";
    if (name.size() <= 1 + kEnding.size() || name.front() != '.' || !name.ends_with(kEnding)) return std::nullopt;
    return std::string(name.substr(1, name.size() - 1 - kEnding.size()));
}

}  // namespace quorvel::platform
