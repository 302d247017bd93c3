#include "platform/posix/runtime/machine_folder.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>

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

std::string DefaultComputerName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return "QUORVEL";
    std::string name(host);
    name = name.substr(0, name.find('.'));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
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

std::filesystem::path MachineFolder() {
    std::filesystem::path folder = LocateFolder();
    if (folder.empty()) return {};
    // The folder is prepared once per process and location; the environment
    // may point elsewhere later (tests do).
    static std::mutex mutex;
    static std::filesystem::path prepared;
    std::lock_guard lock(mutex);
    if (folder == prepared) return folder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) return {};
    WriteDefaultSettings(folder);
    prepared = folder;
    return folder;
}

}  // namespace quorvel::posix
