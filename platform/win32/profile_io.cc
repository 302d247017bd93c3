// The profile functions' system part on Windows. A file's changes are written
// beside it and moved over it; a named mutex per file excludes the other
// callers of this component, in every process, for the whole of a call.
//
// Where Windows gives less than POSIX:
// - The mutex excludes only callers that take it (this component). Programs
//   that write the file directly (the FTP server itself) are not excluded; a
//   change they make after a call read the file is overwritten by its write.
// - A file being read cannot be replaced, so this component's readers take
//   the mutex too.
// - When another program holds the file open without delete sharing, the
//   move cannot happen; after a few retries the bytes are written over the
//   file instead, which is not atomic, rather than losing the changes.
// - The replaced file keeps its attributes and its DACL (platform/win32/
//   replace_file.h); a new file takes the folder's inherited security.
// - A crash between the move's start and end is covered by NTFS's own
//   metadata journal, not by a guarantee of the API.
#include "platform/profile_io.h"

#include <windows.h>
#include <winternl.h>

#include <iterator>
#include <map>
#include <string_view>
#include <vector>

#include "platform/system_error.h"
#include "platform/win32/handles.h"
#include "platform/win32/replace_file.h"
#include "platform/win32/wide.h"

namespace quorvel::platform::profile_io {
namespace {

constexpr wchar_t kTempSuffix[] = L".quorvel-tmp";
constexpr DWORD kLockTimeoutMs = 30000;

// Paths cross this file's interface as UTF-8, so that any name survives.
std::wstring WidePath(const std::string& path) { return win32::Wide(win32::FromCodePage(CP_UTF8, path)); }

std::string Utf8(const std::wstring& wide) {
    return win32::ToCodePage(CP_UTF8, std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// The file's number on its volume; false when the system does not say.
bool FileIndex(HANDLE file, std::uint64_t& index) {
    IO_STATUS_BLOCK status{};
    LARGE_INTEGER number{};
    if (!NT_SUCCESS(NtQueryInformationFile(file, &status, &number, sizeof number, FileInternalInformation)))
        return false;
    index = static_cast<std::uint64_t>(number.QuadPart);
    return true;
}

// Identity, size and times of an open file; false for a folder. Not
// GetFileInformationByHandle: it asks for the volume's serial number too,
// which Wine gets from its mount manager, a dozen round trips to its server
// on every call. The path the file is stamped by names the volume already.
bool StampOf(HANDLE file, Stamp& stamp) {
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) || standard.Directory)
        return false;
    FILE_BASIC_INFO basic{};
    std::uint64_t index = 0;
    const bool times_known = GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) != 0;
    const bool index_known = FileIndex(file, index);
    stamp = Stamp{};
    stamp.exists = true;
    stamp.known = times_known && index_known;
    stamp.parts[1] = index;
    stamp.parts[2] = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    stamp.parts[3] = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
    stamp.parts[4] = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
    return true;
}

win32::Handle OpenExisting(const std::wstring& path, DWORD access) {
    return win32::Handle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The fallback when the file cannot be replaced: its bytes are overwritten.
bool Overwrite(const std::wstring& path, std::string_view bytes) {
    win32::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && win32::WriteAll(file.get(), bytes) && SetEndOfFile(file.get()) &&
           FlushFileBuffers(file.get());
}

// The last part of a path.
std::wstring_view LastPart(std::wstring_view path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

// The file's name as stored, in place of the last part of `path`, so that a
// replacement keeps the spelling the folder shows. Asked of the open file
// when it can tell (its final path, unless that leads elsewhere: a link),
// or else by a search of the folder.
std::wstring StoredSpelling(const std::wstring& path, HANDLE file) {
    const std::wstring_view asked = LastPart(path);
    wchar_t final_path[MAX_PATH + 8];
    const DWORD length = file == nullptr ? 0 : GetFinalPathNameByHandleW(file, final_path, std::size(final_path), 0);
    std::wstring stored;
    if (length > 0 && length < std::size(final_path)) {
        const std::wstring_view name = LastPart(std::wstring_view(final_path, length));
        if (CompareStringOrdinal(name.data(), static_cast<int>(name.size()), asked.data(), static_cast<int>(asked.size()),
                                 TRUE) == CSTR_EQUAL)
            stored = name;
    }
    if (stored.empty()) {
        WIN32_FIND_DATAW data{};
        win32::FindHandle find(FindFirstFileW(path.c_str(), &data));
        if (!find.valid()) return path;
        stored = data.cFileName;
    }
    return path.substr(0, path.size() - asked.size()) + stored;
}

// Mutex names cannot hold '\' and are limited in length; a hash of the key
// names the file. Two files that share a hash only wait for each other.
std::wstring MutexName(const std::wstring& key) {
    unsigned long long hash = 14695981039346656037ull;
    for (wchar_t ch : key) {
        hash ^= static_cast<unsigned long long>(ch);
        hash *= 1099511628211ull;
    }
    wchar_t name[64];
    wsprintfW(name, L"Global\\quorvel-profile-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xffffffffu));
    return name;
}

HANDLE OpenNamedMutex(const std::wstring& name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    // Made by another account whose default ACL does not grant creation rights to us.
    if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED)
        mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
    return mutex;
}

// The mutexes of the files this process locked, kept open for its next
// calls: opening one is a call into the system (under Wine, a round trip to
// its server) at every lock, for a name that stays the same. A process
// keeps at most kKeptMutexes; a lock on another file opens its own.
class KeptMutexes {
public:
    ~KeptMutexes() {
        for (const auto& kept : handles_) CloseHandle(kept.second);
    }
    // A handle the caller must not close, or null.
    HANDLE Find(const std::wstring& name) {
        AcquireSRWLockShared(&lock_);
        const auto found = handles_.find(name);
        HANDLE handle = found == handles_.end() ? nullptr : found->second;
        ReleaseSRWLockShared(&lock_);
        return handle;
    }
    // Keeps `handle` and answers true, or answers false when full.
    bool Keep(const std::wstring& name, HANDLE handle) {
        AcquireSRWLockExclusive(&lock_);
        const bool kept = handles_.size() < kKeptMutexes && handles_.emplace(name, handle).second;
        ReleaseSRWLockExclusive(&lock_);
        return kept;
    }

private:
    static constexpr size_t kKeptMutexes = 64;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::map<std::wstring, HANDLE> handles_;
};

KeptMutexes& Kept() {
    static KeptMutexes kept;
    return kept;
}

}  // namespace

Target Resolve(std::string_view file) {
    if (file.empty()) return {};
    const std::wstring wide = win32::WideFromAnsi(file);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    for (auto& ch : full)
        if (ch == L'/') ch = L'\\';
    std::wstring key = full;
    CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    return {Utf8(key), Utf8(full)};
}

Status Stat(const std::string& path, Stamp& stamp) {
    stamp = Stamp{};
    const win32::Handle file = OpenExisting(WidePath(path), FILE_READ_ATTRIBUTES);
    if (!file.valid()) return IsNotFound(GetLastError()) ? Status::kMissing : Status::kError;
    return StampOf(file.get(), stamp) ? Status::kExists : Status::kError;
}

Status Read(const std::string& path, std::string& bytes, Stamp& stamp, const Stamp* known) {
    bytes.clear();
    stamp = Stamp{};
    const win32::Handle file = OpenExisting(WidePath(path), GENERIC_READ);
    if (!file.valid()) {
        if (!IsNotFound(GetLastError())) return Status::kError;
        return known != nullptr && *known == stamp ? Status::kUnchanged : Status::kMissing;
    }
    if (!StampOf(file.get(), stamp)) return Status::kError;
    if (known != nullptr && *known == stamp) return Status::kUnchanged;
    const std::uint64_t size = stamp.parts[2];
    if (size > (1ull << 31)) return Status::kError;
    // One byte more than the file holds, so that the read that finds its end
    // needs no bigger buffer (and no copy of the bytes read).
    bytes.resize(static_cast<size_t>(size) + 1);
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() + 4096);  // the file grew
        DWORD n = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr))
            return Status::kError;
        if (n == 0) break;
        done += n;
    }
    bytes.resize(done);
    return Status::kExists;
}

bool Replace(const std::string& path, std::string_view bytes, Stamp& stamp) {
    stamp = Stamp{};
    std::wstring target = WidePath(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
    // One opening of the file tells the spelling to keep and the DACL to give the copy.
    std::vector<BYTE> dacl;
    bool dacl_known = false;
    if (existed) {
        const win32::Handle file(OpenExisting(target, READ_CONTROL));
        target = StoredSpelling(target, file.valid() ? file.get() : nullptr);
        dacl_known = file.valid() && win32::DaclOf(file.get(), dacl) == ERROR_SUCCESS;
    }
    constexpr DWORD kKept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD copy_attributes = existed && (attributes & kKept) != 0 ? attributes & kKept : FILE_ATTRIBUTE_NORMAL;
    const std::string_view pieces[] = {bytes};
    // The copy's handle, once it is the file, tells its stamp without opening it again.
    const DWORD error = win32::ReplaceFileWith(target, pieces,
                                               {.ending = kTempSuffix,
                                                .attributes = copy_attributes,
                                                .attempts = 5,
                                                .moved = [&](HANDLE file) {
                                                    if (!StampOf(file, stamp)) stamp = Stamp{};
                                                },
                                                .dacl = dacl_known ? &dacl : nullptr});
    if (error == ERROR_SUCCESS) return true;
    // Kept open by someone: overwrite in place rather than drop the changes.
    if (!existed || !win32::IsHeldOpen(error) || !Overwrite(target, bytes)) return false;
    if (Stat(path, stamp) != Status::kExists) stamp = Stamp{};
    return true;
}

struct Lock::Impl {
    HANDLE mutex = nullptr;
    win32::Handle own;  // the mutex's handle when it is not one kept for the process
    bool owned = false;
    ~Impl() {
        if (owned) ReleaseMutex(mutex);
    }
};

Lock::Lock(const std::string& key, const std::string& /*path*/) : impl_(std::make_unique<Impl>()) {
    const std::wstring name = MutexName(WidePath(key));
    impl_->mutex = Kept().Find(name);
    if (impl_->mutex == nullptr) {
        impl_->own.reset(OpenNamedMutex(name));
        if (!impl_->own.valid()) return;
        impl_->mutex = impl_->own.get();
        if (Kept().Keep(name, impl_->mutex)) impl_->own.release();
    }
    const DWORD wait = WaitForSingleObject(impl_->mutex, kLockTimeoutMs);
    // An abandoned mutex means its owner died; the file is whole, since it
    // changes only by a move.
    impl_->owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

Lock::~Lock() = default;
Lock::Lock(Lock&&) noexcept = default;

bool Lock::held() const { return impl_ && impl_->owned; }

struct LocalMutex::Impl {
    SRWLOCK lock = SRWLOCK_INIT;
};
LocalMutex::LocalMutex() : impl_(std::make_unique<Impl>()) {}
LocalMutex::~LocalMutex() = default;
void LocalMutex::lock() { AcquireSRWLockExclusive(&impl_->lock); }
void LocalMutex::unlock() { ReleaseSRWLockExclusive(&impl_->lock); }

const bool kReadersTakeTheLock = true;

const profile::LeadBytes& AnsiLeadBytes() {
    static const profile::LeadBytes leads = [] {
        profile::LeadBytes table;
        CPINFO info{};
        if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1) {
            for (size_t i = 0; i + 1 < std::size(info.LeadByte) && info.LeadByte[i] != 0; i += 2)
                table.Add(info.LeadByte[i], info.LeadByte[i + 1]);
        }
        return table;
    }();
    return leads;
}

}  // namespace quorvel::platform::profile_io
