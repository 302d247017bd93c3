// quorvel call --dry-run: a call made on a copy of the machine folder, with
// the component's logs in a folder of their own, so that the audit lines it
// writes can be shown and nothing of the machine changes.
#include "tools/quorvel/dry_run.h"

#include <stdlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "mail/files/paths.h"
#include "platform/files.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/posix/runtime/sqlite_connection.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "support/profile.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A store of the machine (registry, metabase, accounts) copied through SQLite,
// so that a write under way in another process gives the state before it or
// after it, never half of it.
bool CopyDatabase(const fs::path& from, const fs::path& to) {
    const posix::SqliteConnection source = posix::OpenSqlite(from, /*read_only=*/true);
    if (!source) return false;
    const posix::SqliteConnection target = posix::OpenSqlite(to);
    if (!target) return false;
    const posix::SqliteLibrary& sqlite = *posix::Sqlite();
    sqlite3_backup* backup = sqlite.backup_init(target.get(), "main", source.get(), "main");
    if (backup == nullptr) return false;
    int step = SQLITE_OK;
    do {
        step = sqlite.backup_step(backup, -1);
        if (step == SQLITE_BUSY || step == SQLITE_LOCKED) sqlite.sleep(50);
    } while (step == SQLITE_OK || step == SQLITE_BUSY || step == SQLITE_LOCKED);
    return sqlite.backup_finish(backup) == SQLITE_OK && step == SQLITE_DONE;
}

// A journal of a store that CopyDatabase copies: the copy is whole without it.
bool IsJournalOf(const fs::path& file) {
    const std::string name = file.filename().string();
    for (const std::string_view suffix : {"-journal", "-wal", "-shm"}) {
        if (!EndsWith(name, suffix)) continue;
        std::error_code ec;
        const fs::path store = file.parent_path() / name.substr(0, name.size() - suffix.size());
        return EndsWith(store.string(), ".db") && fs::is_regular_file(store, ec);
    }
    return false;
}

// Folders, files (with their permissions) and links; other kinds are left.
bool CopyTree(const fs::path& from, const fs::path& to, std::string& error) {
    std::error_code ec;
    fs::create_directories(to, ec);
    fs::recursive_directory_iterator it(from, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path source = it->path();
        const fs::path target = to / source.lexically_relative(from);
        const fs::file_status status = it->symlink_status(ec);
        if (ec) break;
        if (fs::is_directory(status)) {
            fs::create_directory(target, ec);
        } else if (fs::is_symlink(status)) {
            fs::copy_symlink(source, target, ec);
        } else if (fs::is_regular_file(status) && !IsJournalOf(source)) {
            if (EndsWith(source.filename().string(), ".db") && CopyDatabase(source, target)) {
                fs::permissions(target, status.permissions(), ec);
            } else {
                fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
            }
        }
        if (ec) {
            error = "cannot copy " + source.string() + ": " + ec.message();
            return false;
        }
    }
    if (ec) error = "cannot copy " + from.string() + ": " + ec.message();
    return !ec;
}

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void Restore(const char* name, const std::optional<std::string>& value) {
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

// Each line of a log of the component, in UTF-8, on `out`.
void PrintLines(const fs::path& log, std::FILE* out) {
    std::error_code ec;
    if (!fs::exists(log, ec)) return;
    std::FILE* in = std::fopen(log.c_str(), "rb");
    if (in == nullptr) return;
    std::string bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
    std::fclose(in);
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string_view line(bytes.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string text = platform::ToUtf8(platform::FromAnsi(line));
        std::fprintf(out, "%s\n", text.c_str());
        start = end + 1;
    }
}

}  // namespace

// The stand-in program serving the copy, stopped and waited for with the run.
struct DryRun::Webmail {
    pid_t pid = -1;
    ~Webmail() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
};

std::unique_ptr<DryRun> DryRun::Make(std::string& error) {
    const fs::path machine = posix::LocateMachineFolder();
    std::error_code ec;
    if (machine.empty() || !fs::is_directory(machine, ec)) {
        error = "there is no machine folder" + (machine.empty() ? std::string() : " at " + machine.string());
        return nullptr;
    }
    std::string pattern = (fs::temp_directory_path(ec) / "quorvel-dry-run-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a temporary folder";
        return nullptr;
    }
    std::unique_ptr<DryRun> run(new DryRun(pattern));
    if (!CopyTree(machine, run->copy_, error)) return nullptr;
    fs::create_directory(run->logs_, ec);

    // A drive that machine.ini maps outside the folder is copied too, to
    // where the copy finds it when the mapping is gone.
    const std::u16string ini = platform::FromUtf8((run->copy_ / "machine.ini").string());
    if (fs::exists(run->copy_ / "machine.ini", ec)) {
        for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
            const std::u16string key(1, letter);
            const std::u16string mapped = ReadWholeIniValue(u"Drives", key, ini);
            if (mapped.empty()) continue;
            const fs::path drive = fs::absolute(platform::ToUtf8(mapped), ec);
            const fs::path into = run->copy_ / "drives" / platform::ToUtf8(key);
            fs::remove_all(into, ec);
            if (fs::is_directory(drive, ec) && !CopyTree(drive, into, error)) return nullptr;
            if (!WriteIniValue(u"Drives", key, kNullMarker, ini)) {
                error = "cannot rewrite the copy's machine.ini";
                return nullptr;
            }
        }
    }
    run->saved_machine_ = Environment("QUORVEL_MACHINE");
    run->saved_logs_ = Environment("QUORVEL_LOG_FOLDER");
    setenv("QUORVEL_MACHINE", run->copy_.c_str(), 1);
    setenv("QUORVEL_LOG_FOLDER", run->logs_.c_str(), 1);
    run->pointed_ = true;
    return run;
}

DryRun::DryRun(const std::string& temp) : temp_(temp), copy_(temp_ / "machine"), logs_(temp_ / "logs") {}

DryRun::~DryRun() {
    webmail_.reset();
    if (pointed_) {
        Restore("QUORVEL_MACHINE", saved_machine_);
        Restore("QUORVEL_LOG_FOLDER", saved_logs_);
    }
    std::error_code ec;
    fs::remove_all(temp_, ec);
}

bool DryRun::ServeWebmail(const std::u16string& mail_dir) {
    const std::u16string settings = mail::WebmailSettingsPath(mail_dir);
    if (!platform::FileExists(platform::ToAnsi(settings))) return false;
    // On a port of its own, which it writes into the copy's settings before
    // it says it listens.
    std::string program = WebmailProgram();
    std::string dir = platform::ToAnsi(mail_dir);
    std::string flag_dir = "--mail-dir", flag_port = "--port", zero = "0";
    char* argv[] = {program.data(), flag_dir.data(), dir.data(), flag_port.data(), zero.data(), nullptr};
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, STDERR_FILENO);
        ::execv(program.c_str(), argv);
        _exit(127);
    }
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        return false;
    }
    auto served = std::make_unique<Webmail>();
    served->pid = pid;
    std::string said;
    char buffer[256];
    while (said.find('\n') == std::string::npos) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        said.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (said.rfind("listening on ", 0) != 0) return false;
    webmail_ = std::move(served);
    return true;
}

void DryRun::Report() const {
    PrintLines(logs_ / "DllAudit.log", stdout);
    PrintLines(logs_ / "DllErr.log", stderr);
}

}  // namespace quorvel::cli
