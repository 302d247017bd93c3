#include "platform/folders.h"

#include <windows.h>

#include <cstdlib>

#include "platform/win32/handles.h"

namespace quorvel::platform {
namespace {

// The ending platform/win32/replace_file.h gives a copy by default, which
// the profile functions use too.
constexpr std::string_view kCopyEnding = ".quorvel-tmp";

}  // namespace

std::optional<std::vector<FolderEntry>> ListFolder(std::string_view path) {
    const std::string pattern = std::string(path) + "\\*";
    WIN32_FIND_DATAA found{};
    win32::FindHandle search(FindFirstFileA(pattern.c_str(), &found));
    if (!search.valid()) return std::nullopt;
    std::vector<FolderEntry> entries;
    do {
        const std::string_view name = found.cFileName;
        if (name == "." || name == "..") continue;
        entries.push_back({std::string(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0});
    } while (FindNextFileA(search.get(), &found));
    return entries;
}

std::vector<std::string> FixedDrives() {
    std::vector<std::string> drives;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((mask & (1u << i)) == 0) continue;
        const std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
        if (GetDriveTypeA(root.c_str()) == DRIVE_FIXED) drives.push_back(root.substr(0, 2));
    }
    return drives;
}

// "NAME.quorvel-tmp" (a profile file's copy, made under its lock) or
// "NAME.quorvel-tmpPID-N" (a copy of its own per process).
std::optional<ReplacementCopy> ReplacementCopyOf(std::string_view name) {
    const size_t at = name.rfind(kCopyEnding);
    if (at == std::string_view::npos || at == 0) return std::nullopt;
    const std::string_view rest = name.substr(at + kCopyEnding.size());
    ReplacementCopy copy{std::string(name.substr(0, at)), 0};
    if (rest.empty()) return copy;
    const std::optional<std::uint32_t> process = CopyWriterOf(rest);
    if (!process) return std::nullopt;
    copy.process = *process;
    return copy;
}

bool ProcessRunning(std::uint32_t process) {
    if (process == 0) return true;
    win32::Handle handle(OpenProcess(SYNCHRONIZE, FALSE, process));
    if (!handle.valid()) return GetLastError() != ERROR_INVALID_PARAMETER;
    return WaitForSingleObject(handle.get(), 0) == WAIT_TIMEOUT;
}

// The locks are named mutexes here: no lock file is ever left.
std::optional<std::string> LockFileTarget(std::string_view) { return std::nullopt; }

}  // namespace quorvel::platform
