#include "platform/posix/runtime/machine_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "base/ascii.h"

namespace quorvel::posix {
namespace {

std::filesystem::path LocateFolder() {
    if (const char* dir = std::getenv("QUORVEL_MACHINE"); dir != nullptr && *dir != '\0') return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0')
        return std::filesystem::path(data) / "quorvel" / "machine";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::filesystem::path(home) / ".local" / "share" / "quorvel" / "machine";
    return {};
}

}  // namespace

std::filesystem::path LocateMachineFolder() { return LocateFolder(); }

std::string DefaultComputerName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return "QUORVEL";
    std::string name(host);
    name = name.substr(0, name.find('.'));
    name = base::ToUpperAscii(name);
    if (name.size() > 15) name.resize(15);
    return name.empty() ? "QUORVEL" : name;
}

namespace {

void WriteDefaultSettings(const std::filesystem::path& folder) {
    const auto ini = folder / "machine.ini";
    std::error_code ec;
    if (std::filesystem::exists(ini, ec)) return;
    // Written beside and renamed, so that two first uses at once never leave a torn file.
    const auto temp = folder / (".machine.ini." + std::to_string(getpid()));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << "[Machine]\r\nComputerName=" << DefaultComputerName() << "\r\nCodePage=936\r\n"
            << "[Accounts]\r\nMinPasswordLength=0\r\n";
        if (!out) return;
    }
    if (std::filesystem::exists(ini, ec)) {
        std::filesystem::remove(temp, ec);
        return;
    }
    std::filesystem::rename(temp, ini, ec);
    if (ec) std::filesystem::remove(temp, ec);
}

}  // namespace

namespace {

// What the environment says about the folder, before any path is made of
// it: QUORVEL_MACHINE alone when it is set (it decides), else all three.
std::string Source() {
    if (const char* dir = std::getenv("QUORVEL_MACHINE"); dir != nullptr && *dir != '\0') return dir;
    std::string source(1, '\0');
    for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
        const char* value = std::getenv(name);
        source += value != nullptr ? value : "";
        source += '\0';
    }
    return source;
}

// The same question without making a string when QUORVEL_MACHINE decides.
bool SourceIs(const std::string& source) {
    if (const char* dir = std::getenv("QUORVEL_MACHINE"); dir != nullptr && *dir != '\0') return source == dir;
    return source == Source();
}

// Where QUORVEL_MACHINE was found in the environment, when it decides the
// folder. setenv and putenv put a new entry in the place of a variable's old
// one, and unsetenv moves the later ones down: while the array and that
// entry are the same objects, so is the folder, told without comparing the
// name of every variable, as a getenv does.
class EnvironmentMark {
public:
    static EnvironmentMark Now() {
        EnvironmentMark mark;
        if (environ == nullptr) return mark;
        constexpr std::string_view kName = "QUORVEL_MACHINE=";
        for (std::size_t i = 0; environ[i] != nullptr; ++i) {
            if (std::string_view(environ[i]).starts_with(kName) && environ[i][kName.size()] != '\0') {
                mark.array_ = environ;
                mark.where_ = i;
                mark.entry_ = environ[i];
            }
        }
        return mark;
    }

    bool StillSo() const { return array_ != nullptr && environ == array_ && array_[where_] == entry_; }

private:
    char** array_ = nullptr;
    std::size_t where_ = 0;
    const char* entry_ = nullptr;
};

struct Prepared {
    EnvironmentMark mark;
    std::string source;
    std::filesystem::path folder;
    std::string text;
    std::uint64_t generation = 0;
};

// The folder is prepared once per process and location; the environment
// may point elsewhere later (tests do). Calls with `use` under the lock.
template <typename Use>
auto WithFolder(Use&& use) {
    static std::mutex mutex;
    // An object, not a pointer never freed: the stand-in library that holds
    // a copy of this code is unloaded while the process goes on.
    static Prepared kept;
    Prepared* const prepared = &kept;
    std::lock_guard lock(mutex);
    if (!prepared->folder.empty() && prepared->mark.StillSo()) return use(*prepared);
    // Marked first: a change made while the folder is found is seen next time.
    EnvironmentMark mark = EnvironmentMark::Now();
    if (!prepared->folder.empty() && SourceIs(prepared->source)) {
        prepared->mark = mark;
        return use(*prepared);
    }
    std::string source = Source();
    std::filesystem::path folder = LocateFolder();
    if (folder.empty()) return use(Prepared());
    if (folder != prepared->folder) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!std::filesystem::is_directory(folder, ec)) return use(Prepared());
        WriteDefaultSettings(folder);
        ++prepared->generation;
    }
    prepared->text = folder.string();
    prepared->folder = std::move(folder);
    prepared->source = std::move(source);
    prepared->mark = mark;
    return use(*prepared);
}

}  // namespace

std::filesystem::path MachineFolder() {
    return WithFolder([](const Prepared& p) { return p.folder; });
}

std::string MachineFolderString() {
    return WithFolder([](const Prepared& p) { return p.text; });
}

std::uint64_t MachineFolderGeneration() {
    return WithFolder([](const Prepared& p) { return p.folder.empty() ? std::uint64_t{0} : p.generation; });
}

}  // namespace quorvel::posix
