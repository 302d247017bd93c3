// Files as the component sees them: Windows paths in the system code page.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvel::platform {

// The directory search for one file (FindFirstFile on the exact path): the
// file's name as stored, when an ordinary file (not hidden, not system, not a
// folder) is there.
std::optional<std::string> FindFileName(std::string_view path);
// Whether an ordinary file is at the exact path, asked of the file itself
// rather than by searching its folder: what FindFileName finds there, but
// not under which name.
bool IsOrdinaryFile(std::string_view path);

// The whole content of a file; nullopt when it cannot be read.
std::optional<std::string> ReadFileBytes(std::string_view path);

// Replaces the file's content, or creates the file, atomically: the bytes are
// written beside it, flushed and renamed over it, so that a reader, or a
// writer killed at any moment, leaves the old content or the new, never a mix.
// The content is given in pieces, written one after the other.
bool ReplaceFileBytes(std::string_view path, std::span<const std::string_view> pieces);
inline bool ReplaceFileBytes(std::string_view path, std::string_view bytes) {
    return ReplaceFileBytes(path, std::span<const std::string_view>(&bytes, 1));
}

// Creates the file empty, or empties the one that is there.
bool CreateEmptyFile(std::string_view path);

// The folder that holds the loaded component library, without a trailing
// separator.
std::string ModuleFolder();

// The folder of the component's logs (DllErr.log, DllAudit.log), without a
// trailing separator: the component's own folder; on POSIX the folder that
// QUORVEL_LOG_FOLDER names when it is set (the host's dry run).
std::string LogFolder();

// The folder of the component's own records on this machine (the locks of
// its methods, the intent records of calls under way), without a trailing
// separator: on Windows the component's folder, beside DllErr.log; on POSIX
// the folder "component" of the machine folder, made when missing, since
// machines that share one library must never share these. Empty when there
// is none.
std::string StateFolder();

// A text file opened for appending; created when missing. Closed on
// destruction.
class AppendFile {
public:
    AppendFile();
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    bool Open(std::string_view path);
    // Appends the bytes as one write, so that concurrent writers keep whole lines.
    bool Write(std::string_view bytes);
    bool is_open() const;
    void Close();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// An ordinary or hidden file (not a folder) is at `path`.
bool FileExists(std::string_view path);
// A folder is at `path`.
bool FolderExists(std::string_view path);

// Why a file operation failed.
enum class FileStatus {
    kDone,
    kFileNotFound,  // the file to copy or delete is not there
    kPathNotFound,  // a folder of the path is not there
    kAccessDenied,  // read-only, in use, a folder, or not allowed
    kDiskFull,
    kBadName,
    kFailed,  // any other failure
};

// Copies the file `from` to `to`, replacing `to` when it exists. The copy is
// made beside `to`, flushed and renamed over it, so that readers of `to` see
// the old file or the new one, whole. A read-only `to` is not replaced. A
// replaced file keeps its permissions; the bytes are copied exactly.
FileStatus CopyFileReplacing(std::string_view from, std::string_view to);

// Deletes the file, also when it is read-only.
FileStatus DeleteFileForced(std::string_view path);

}  // namespace quorvel::platform
