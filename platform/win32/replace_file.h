// The one way this build replaces a file, as platform/posix/atomic_file.h
// is on POSIX: the new content is written to a copy beside the file, flushed
// to disk, and moved over the file through the handle that wrote it (a move
// within one volume, as a rename on POSIX). The copy is made with
// the file's DACL, so that nobody can open it, before its first byte, who
// could not open the file; a new file takes the folder's inherited
// security, as any new file does.
#pragma once

#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::win32 {

struct Replacement {
    // The copy's name is the file's with this ending, and with the process
    // and a counter after it when `unique`. A copy of the one name may be left
    // by a writer that died; it is removed first (its writers take turns
    // under a lock).
    const wchar_t* ending = L".quorvel-tmp";
    bool unique = false;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;  // the copy's
    // Moves tried, 50 ms apart, while another program holds the file open.
    int attempts = 1;
    // Called with the copy's handle once the copy is the file, before the
    // handle closes (with read access to the attributes).
    std::function<void(HANDLE file)> moved = nullptr;
    // The file's DACL (DaclOf), when the caller has read it already.
    const std::vector<BYTE>* dacl = nullptr;
};

// The DACL of an open file (opened with READ_CONTROL) as a self-relative
// security descriptor; empty where the volume keeps no security.
DWORD DaclOf(HANDLE file, std::vector<BYTE>& descriptor);

// Writes the copy's content; false, with the last error set, when it cannot.
using ContentWriter = std::function<bool(HANDLE copy)>;

// ERROR_SUCCESS, or the error that stopped it; the copy is gone either way.
DWORD ReplaceFileWith(const std::wstring& target, const ContentWriter& write, const Replacement& how);
DWORD ReplaceFileWith(const std::wstring& target, std::span<const std::string_view> pieces, const Replacement& how);

// The errors of a move that another program's open handle holds off.
bool IsHeldOpen(DWORD error);

bool WriteAll(HANDLE file, std::string_view bytes);

// For tests: called with the copy's path after it was made and before its
// first byte is written.
using BeforeWriteHook = void (*)(const std::wstring& copy);
void SetBeforeWriteHookForTests(BeforeWriteHook hook);

}  // namespace quorvel::win32
