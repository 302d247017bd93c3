// The file operations of the scripting runtime's file-system object: each
// either succeeds or raises the run-time error a VB client sees from it
// (53 file not found, 76 path not found, 70 permission denied, 61 disk full,
// 52 bad file name, 57 device I/O error).
#pragma once

#include <string_view>

#include "platform/file_lock.h"

namespace quorvel {

bool FileExists(std::u16string_view path);
bool FolderExists(std::u16string_view path);

// Copies `from` over `to`; `to` is replaced whole or not at all.
void CopyFileOver(std::u16string_view from, std::u16string_view to);

// Deletes the file, read-only or not.
void DeleteFileForced(std::u16string_view path);

// Holds the lock of a file (the one the profile transactions and the other
// whole-file rewrites of that file take) while it lives; raises error 70 when
// the lock cannot be had.
class FileHold {
public:
    explicit FileHold(std::u16string_view path);

private:
    platform::FileLock lock_;
};

}  // namespace quorvel
