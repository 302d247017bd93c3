// The profile functions are Windows' own. A ProfileSession adds what they lack:
// a named mutex per file for exclusion across processes, and atomicity by
// working on a copy beside the file that replaces it at Commit.
//
// Where Windows gives less than the POSIX engine:
// - The mutex excludes only callers that take it (other sessions of this
//   component). Programs that write the file directly (the FTP server itself)
//   are not excluded; a change they make after the session copied the file is
//   overwritten at Commit.
// - The replaced file takes the security and attributes of the copy, which
//   CopyFile gives the file's attributes and the folder's inherited ACL.
// - When another program holds the file open without delete sharing, the
//   rename cannot happen; after a few retries the copy's bytes are written over
//   the file instead, which is not atomic, rather than losing the changes.
// - A crash between the rename's start and end is covered by NTFS's own
//   metadata journal, not by a guarantee of the API.
#include "platform/profile.h"

#include <windows.h>

#include <new>
#include <vector>

#include "platform/win32/file_mutex.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace quorvel::platform {

struct ProfileSession::Impl {
    std::wstring key;   // full path, upper case: names the file however it is spelt
    std::wstring file;  // as given, wide
    std::wstring copy;  // the working copy beside it
    std::string copy_ansi;
    win32::Handle mutex;
    bool owns_mutex = false;
    bool joined = false;      // an outer session of this thread has the same file
    bool copy_ready = false;  // the copy exists and holds the session's state
    bool dirty = false;       // a write went to the copy since the last Commit
    Impl* outer = nullptr;
    Impl* joined_to = nullptr;
};

namespace {

// The sessions of this thread, innermost first.
thread_local ProfileSession::Impl* t_sessions = nullptr;

constexpr wchar_t kCopySuffix[] = L".quorvel-tmp";

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The copy starts as the file's current bytes, or absent when the file is.
bool PrepareCopy(ProfileSession::Impl& session) {
    DeleteFileW(session.copy.c_str());
    if (FileExists(session.file) && !CopyFileW(session.file.c_str(), session.copy.c_str(), FALSE)) {
        return false;
    }
    // A read-only file would make the copy read-only too, and the profile
    // functions could not write it.
    const DWORD attributes = GetFileAttributesW(session.copy.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        DeleteFileW(session.copy.c_str());
        return false;
    }
    session.copy_ready = true;
    return true;
}

bool FlushToDisk(const std::wstring& path) {
    win32::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && FlushFileBuffers(file.get()) != 0;
}

bool Publish(ProfileSession::Impl& session) {
    if (!session.dirty) return true;
    session.dirty = false;
    session.copy_ready = false;
    // Windows does not create the file for every write (deleting from a missing
    // file under Wine): then there is nothing to publish.
    if (!FileExists(session.copy)) return true;
    if (!FlushToDisk(session.copy)) {
        DeleteFileW(session.copy.c_str());
        return false;
    }
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (MoveFileExW(session.copy.c_str(), session.file.c_str(), kFlags)) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) break;
        Sleep(50);
    }
    // Kept open by someone: overwrite in place rather than drop the changes.
    const bool copied = CopyFileW(session.copy.c_str(), session.file.c_str(), FALSE) != 0;
    DeleteFileW(session.copy.c_str());
    return copied;
}

// Where a profile call on `file` goes: the working copy of this thread's
// session on that file, else the file itself. Reads go to the file until the
// first write has made the copy.
std::string Route(std::string_view file, bool writing) {
    if (t_sessions == nullptr) return std::string(file);
    const std::wstring key = win32::NormalizedPathKey(win32::WideFromAnsi(file));
    for (ProfileSession::Impl* session = t_sessions; session != nullptr; session = session->outer) {
        if (session->joined || !session->owns_mutex || session->key != key) continue;
        if (!session->copy_ready) {
            if (!writing || !PrepareCopy(*session)) return std::string(file);
        }
        if (writing) session->dirty = true;
        return session->copy_ansi;
    }
    return std::string(file);
}

}  // namespace

uint32_t GetPrivateProfileString(std::string_view section, std::string_view key, uint32_t size,
                                 std::string_view file, std::string& value) {
    value.clear();
    if (size == 0) return 0;
    const std::string target = Route(file, false);
    const std::string zsection(section), zkey(key);
    std::vector<char> buffer;
    try {
        buffer.assign(size, '\0');
    } catch (const std::bad_alloc&) {
        return 0;
    }
    const DWORD copied = GetPrivateProfileStringA(zsection.c_str(), zkey.c_str(), nullptr, buffer.data(), size,
                                                  target.c_str());
    value.assign(buffer.data(), copied < size ? copied : size - 1);
    return static_cast<uint32_t>(value.size());
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::optional<std::string_view> value, std::string_view file) {
    const std::string target = Route(file, true);
    const std::string zsection(section), zkey(key);
    const std::string zvalue = value ? std::string(*value) : std::string();
    return WritePrivateProfileStringA(zsection.c_str(), zkey.c_str(), value ? zvalue.c_str() : nullptr,
                                      target.c_str()) != 0;
}

bool WritePrivateProfileSection(std::string_view section, std::optional<std::string_view> content,
                                std::string_view file) {
    const std::string target = Route(file, true);
    const std::string zsection(section);
    if (!content) {
        // The documented way to delete a section with everything in it.
        return WritePrivateProfileStringA(zsection.c_str(), nullptr, nullptr, target.c_str()) != 0;
    }
    // Entries end with a NUL each and the list with one more.
    std::string entries(*content);
    if (entries.empty() || entries.back() != '\0') entries.push_back('\0');
    entries.push_back('\0');
    return WritePrivateProfileSectionA(zsection.c_str(), entries.data(), target.c_str()) != 0;
}

ProfileSession::ProfileSession(std::string_view file) : impl_(std::make_unique<Impl>()) {
    Impl& self = *impl_;
    self.file = win32::WideFromAnsi(file);
    self.key = win32::NormalizedPathKey(self.file);
    self.outer = t_sessions;
    t_sessions = &self;
    if (self.key.empty()) return;
    for (Impl* outer = self.outer; outer != nullptr; outer = outer->outer) {
        if (!outer->joined && outer->key == self.key) {
            // The thread holds this file already; share that session's copy.
            self.joined = true;
            self.joined_to = outer;
            return;
        }
    }
    self.copy = self.file + kCopySuffix;
    self.copy_ansi = std::string(file) + ".quorvel-tmp";
    self.mutex.reset(win32::OpenFileMutex(self.key));
    if (!self.mutex.valid()) return;
    self.owns_mutex = win32::WaitForFileMutex(self.mutex.get());
}

ProfileSession::~ProfileSession() {
    Impl& self = *impl_;
    if (self.owns_mutex) {
        Publish(self);
        DeleteFileW(self.copy.c_str());
        ReleaseMutex(self.mutex.get());
    }
    // Sessions end in the reverse order of their start (they are scoped objects).
    if (t_sessions == &self) t_sessions = self.outer;
}

bool ProfileSession::locked() const {
    if (impl_->joined) return impl_->joined_to->owns_mutex;
    return impl_->owns_mutex;
}

bool ProfileSession::Commit() {
    Impl& self = impl_->joined ? *impl_->joined_to : *impl_;
    if (!self.owns_mutex) return true;
    return Publish(self);
}

}  // namespace quorvel::platform
