// The named mutex that stands for one file's lock on Windows: every writer
// of the file (profile sessions, the user-list methods) waits for it.
#pragma once

#include <windows.h>

#include <string>

namespace quorvel::win32 {

// The full path in upper case, '\' as separator: one key however the path is spelt.
std::wstring NormalizedPathKey(const std::wstring& path);

// The mutex of a file's key; null when it cannot be made or opened.
HANDLE OpenFileMutex(const std::wstring& key);

// Waits for the mutex (bounded); true when this thread owns it. An abandoned
// mutex counts as acquired: its owner died, and the files it guards change
// only by rename, so they are whole.
bool WaitForFileMutex(HANDLE mutex);

}  // namespace quorvel::win32
