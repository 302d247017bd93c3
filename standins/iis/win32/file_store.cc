// The metabase on Windows: one text file, metabase.txt in the folder
// Quorvel\IIS of %ProgramData%, replaced as a whole at each commit (written beside, flushed,
// moved over it with write-through) under a named mutex that every process
// using the stand-in takes for each read and each commit (owned by one
// thread at a time, it keeps the threads of a process in line too). Its first line
// holds a generation that each commit raises, so a process reads the rest of
// the file only when another one committed since. Backups are files of their
// own in the folder Backups beside it.
#include <windows.h>

#include <cstdio>
#include <map>

#include "platform/utf8.h"
#include "platform/win32/handles.h"
#include "platform/win32/replace_file.h"
#include "standins/iis/metabase.h"

namespace quorvel::iis {
namespace {

using platform::FromUtf8;
using platform::ToUtf8;

[[noreturn]] void Fail() { throw DirectoryError(kStoreFailure); }

std::wstring DataFolder() {
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = GetEnvironmentVariableW(L"ProgramData", buffer, MAX_PATH);
    if (size == 0 || size >= MAX_PATH) size = GetEnvironmentVariableW(L"ALLUSERSPROFILE", buffer, MAX_PATH);
    if (size == 0 || size >= MAX_PATH) Fail();
    const std::wstring folder = std::wstring(buffer, size) + L"\\Quorvel\\IIS";
    CreateDirectoryW((std::wstring(buffer, size) + L"\\Quorvel").c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Backups").c_str(), nullptr);
    return folder;
}

std::optional<std::string> ReadAll(const std::wstring& path) {
    win32::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

// Written beside, flushed and moved over the old file in one step.
void ReplaceFile(const std::wstring& path, const std::string& bytes) {
    const std::string_view pieces[] = {bytes};
    if (win32::ReplaceFileWith(path, pieces, {.ending = L".new"}) != ERROR_SUCCESS) Fail();
}

std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::string NowUtc() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

class MutexLock {
public:
    explicit MutexLock(HANDLE mutex) : mutex_(mutex) {
        const DWORD rc = WaitForSingleObject(mutex_, INFINITE);
        // A holder that died left the file whole: it is only ever replaced.
        if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) Fail();
    }
    ~MutexLock() { ReleaseMutex(mutex_); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    HANDLE mutex_;
};

class FileStore final : public Store {
public:
    FileStore() : folder_(DataFolder()), file_(folder_ + L"\\metabase.txt") {
        mutex_.reset(CreateMutexW(nullptr, FALSE, L"Local\\QuorvelIisMetabase"));
        if (!mutex_.valid()) Fail();
    }

    std::optional<Node> Load(std::u16string_view path) override {
        MutexLock lock(mutex_.get());
        Refresh();
        const Node* node = tree_.Find(path);
        if (node == nullptr) return std::nullopt;
        return Node{node->name, node->cls, node->properties, {}};
    }

    ChildList Children(std::u16string_view path) override {
        MutexLock lock(mutex_.get());
        Refresh();
        ChildList children = tree_.Children(path);
        if (!children) throw DirectoryError(kPathNotFound);
        return children;
    }

    void Commit(const Change& change) override {
        MutexLock lock(mutex_.get());
        Refresh();
        Tree changed = tree_;
        changed.Apply(change);
        Save(std::move(changed));
    }

    void Backup(std::u16string_view name, std::int32_t version, std::int32_t flags) override {
        if (name.empty() || version < kNextVersion) throw DirectoryError(kInvalidArgument);
        MutexLock lock(mutex_.get());
        Refresh();
        std::int32_t chosen = version;
        if (version == kNextVersion) {
            const auto highest = HighestVersion(name);
            chosen = highest ? *highest + 1 : 0;
        } else if (ReadAll(BackupFile(name, version)) && (flags & kOverwrite) == 0) {
            throw DirectoryError(kAlreadyExists);
        }
        ReplaceFile(BackupFile(name, chosen), ToUtf8(name) + "\n" + NowUtc() + "\n" + tree_.Serialize());
    }

    void Restore(std::u16string_view name, std::int32_t version) override {
        MutexLock lock(mutex_.get());
        Refresh();
        std::int32_t chosen = version;
        if (version == kHighestVersion) {
            const auto highest = HighestVersion(name);
            if (!highest) throw DirectoryError(kFileNotFound);
            chosen = *highest;
        }
        const auto bytes = ReadAll(BackupFile(name, chosen));
        if (!bytes) throw DirectoryError(kFileNotFound);
        const size_t first = bytes->find('\n');
        const size_t second = first == std::string::npos ? first : bytes->find('\n', first + 1);
        if (second == std::string::npos) Fail();
        auto saved = Tree::Parse(std::string_view(*bytes).substr(second + 1));
        if (!saved) Fail();
        Save(std::move(*saved));
    }

    void Import(const Tree& tree) override {
        MutexLock lock(mutex_.get());
        Refresh();
        Save(tree);
    }

    void DeleteBackup(std::u16string_view name, std::int32_t version) override {
        MutexLock lock(mutex_.get());
        if (!DeleteFileW(BackupFile(name, version).c_str())) throw DirectoryError(kFileNotFound);
    }

    std::vector<BackupInfo> Backups() override {
        MutexLock lock(mutex_.get());
        std::map<std::pair<std::string, std::int32_t>, BackupInfo> sorted;
        WIN32_FIND_DATAW found{};
        win32::FindHandle search(FindFirstFileW((folder_ + L"\\Backups\\*.bak").c_str(), &found));
        if (!search.valid()) return {};
        do {
            const std::wstring file = folder_ + L"\\Backups\\" + found.cFileName;
            const auto bytes = ReadAll(file);
            const std::wstring leaf(found.cFileName);
            const size_t dot = leaf.find(L'.');
            if (!bytes || dot == std::wstring::npos) continue;
            const size_t first = bytes->find('\n');
            const size_t second = first == std::string::npos ? first : bytes->find('\n', first + 1);
            if (second == std::string::npos) continue;
            const std::int32_t version = _wtoi(leaf.c_str() + dot + 1);
            const Text name = FromUtf8(bytes->substr(0, first));
            sorted[{ToUtf8(UpperKey(name)), version}] = {name, version, bytes->substr(first + 1, second - first - 1)};
        } while (FindNextFileW(search.get(), &found));
        std::vector<BackupInfo> list;
        for (auto& [key, info] : sorted) list.push_back(std::move(info));
        return list;
    }

private:
    std::wstring BackupFile(std::u16string_view name, std::int32_t version) const {
        const std::string leaf = Hex(ToUtf8(UpperKey(name))) + "." + std::to_string(version) + ".bak";
        return folder_ + L"\\Backups\\" + std::wstring(leaf.begin(), leaf.end());
    }

    std::optional<std::int32_t> HighestVersion(std::u16string_view name) const {
        std::optional<std::int32_t> highest;
        const std::string prefix = Hex(ToUtf8(UpperKey(name))) + ".";
        WIN32_FIND_DATAW found{};
        const std::wstring pattern = folder_ + L"\\Backups\\" + std::wstring(prefix.begin(), prefix.end()) + L"*.bak";
        win32::FindHandle search(FindFirstFileW(pattern.c_str(), &found));
        if (!search.valid()) return highest;
        do {
            const std::int32_t version = _wtoi(found.cFileName + prefix.size());
            if (!highest || version > *highest) highest = version;
        } while (FindNextFileW(search.get(), &found));
        return highest;
    }

    // The generation on the file's first line; 0 for a machine without a file.
    std::uint64_t FileGeneration() const {
        win32::Handle file(CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return 0;
        char head[40] = {};
        DWORD got = 0;
        if (!ReadFile(file.get(), head, sizeof head - 1, &got, nullptr)) Fail();
        unsigned long long generation = 0;
        if (std::sscanf(head, "GENERATION %llu", &generation) != 1) Fail();
        return generation;
    }

    // The caller holds the mutex.
    void Refresh() {
        const std::uint64_t generation = FileGeneration();
        if (loaded_ && generation == generation_) return;
        if (generation == 0) {
            tree_ = Tree();
        } else {
            const auto whole = ReadAll(file_);
            if (!whole) Fail();
            const std::string& bytes = *whole;
            const size_t line = bytes.find('\n');
            auto tree = Tree::Parse(std::string_view(bytes).substr(line == std::string::npos ? bytes.size() : line + 1));
            if (!tree) Fail();
            tree_ = std::move(*tree);
        }
        generation_ = generation;
        loaded_ = true;
    }

    void Save(Tree tree) {
        const std::uint64_t next = generation_ + 1;
        ReplaceFile(file_, "GENERATION " + std::to_string(next) + "\n" + tree.Serialize());
        tree_ = std::move(tree);
        generation_ = next;
    }

    win32::Handle mutex_;
    std::wstring folder_;
    std::wstring file_;
    Tree tree_;
    std::uint64_t generation_ = 0;
    bool loaded_ = false;
};

}  // namespace

std::shared_ptr<Store> MachineStore() {
    static const std::shared_ptr<Store> store = std::make_shared<FileStore>();
    return store;
}

}  // namespace quorvel::iis
