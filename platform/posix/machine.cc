#include "platform/posix/machine.h"

#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "base/ascii.h"
#include "platform/posix/runtime/machine_folder.h"
#include "profile/engine/profile_engine.h"

namespace quorvel::posix {
namespace {

using profile::FoldProfileName;
using profile::ProfileEngine;

constexpr int kDefaultCodePage = 936;

struct Snapshot {
    std::filesystem::path path;
    struct timespec mtime {};
    off_t size = -1;
    ino_t inode = 0;
    ProfileEngine settings;
};

// machine.ini as last read; read again only when it changed.
std::optional<std::string> ReadSetting(std::string_view section, std::string_view key) {
    static std::mutex mutex;
    static Snapshot snapshot;
    const std::filesystem::path folder = MachineFolder();
    if (folder.empty()) return std::nullopt;
    const std::filesystem::path path = folder / "machine.ini";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;

    std::lock_guard lock(mutex);
    if (snapshot.path != path || snapshot.size != st.st_size || snapshot.inode != st.st_ino ||
        snapshot.mtime.tv_sec != st.st_mtim.tv_sec || snapshot.mtime.tv_nsec != st.st_mtim.tv_nsec) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        snapshot.settings = ProfileEngine::Parse(bytes.str());
        snapshot.path = path;
        snapshot.size = st.st_size;
        snapshot.inode = st.st_ino;
        snapshot.mtime = st.st_mtim;
    }
    // Present with an empty value differs from absent: look at the key list.
    std::string keys;
    snapshot.settings.GetString(section, std::nullopt, 1 << 16, keys);
    const std::string wanted = FoldProfileName(key);
    bool present = false;
    for (size_t pos = 0; pos < keys.size();) {
        const size_t end = keys.find('\0', pos);
        const std::string_view name = std::string_view(keys).substr(pos, end - pos);
        if (FoldProfileName(name) == wanted) present = true;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    if (!present) return std::nullopt;
    std::string value;
    snapshot.settings.GetString(section, key, 1 << 16, value);
    return value;
}

}  // namespace

std::optional<std::string> MachineSetting(std::string_view section, std::string_view key) {
    return ReadSetting(section, key);
}

int MachineCodePage() {
    const auto value = MachineSetting("Machine", "CodePage");
    if (!value || value->empty()) return kDefaultCodePage;
    try {
        const int page = std::stoi(*value);
        return page > 0 ? page : kDefaultCodePage;
    } catch (...) {
        return kDefaultCodePage;
    }
}

std::string IconvNameOfCodePage(int code_page) {
    switch (code_page) {
        case 65001: return "UTF-8";
        case 20127: return "ASCII";
        case 28591: return "ISO-8859-1";
        default: return "CP" + std::to_string(code_page);
    }
}

std::filesystem::path DriveFolder(char letter) {
    const char upper = base::ToUpperAscii(letter);
    if (const auto folder = MachineSetting("Drives", std::string(1, upper)); folder && !folder->empty())
        return *folder;
    return MachineFolder() / "drives" / std::string(1, upper);
}

}  // namespace quorvel::posix
