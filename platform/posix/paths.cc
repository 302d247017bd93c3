#include "platform/posix/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/ascii.h"
#include "platform/posix/machine.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::posix {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` that matches `name` without regard to case; the
// alphabetically first when several do, so that the choice is stable.
std::string FindEntry(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return {};
    std::string best;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view candidate(entry->d_name);
        if (base::EqualsIgnoringAsciiCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
    }
    closedir(dir);
    return best;
}

std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

bool HasDrive(std::string_view path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

std::filesystem::path MapWindowsPath(std::string_view path) {
    std::string base;
    if (HasDrive(path)) {
        std::error_code ec;
        const std::filesystem::path drive = DriveFolder(path[0]);
        std::filesystem::create_directories(drive, ec);
        base = drive.string();
        path.remove_prefix(2);
    } else if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
        base = "/";
    }
    // The whole path as given exists: nothing to look up.
    std::string direct = base;
    for (const std::string& part : Components(path)) {
        if (!direct.empty() && direct.back() != '/') direct += '/';
        direct += part;
    }
    if (Exists(direct)) return direct;

    std::string mapped = base;
    bool looking = true;  // below a missing folder nothing more can match
    for (const std::string& part : Components(path)) {
        if (part == ".") continue;
        if (part == "..") {
            const auto slash = mapped.find_last_of('/');
            if (slash != std::string::npos && slash > 0) {
                mapped.resize(slash);
            } else if (slash == 0) {
                mapped = "/";
            }
            continue;
        }
        const std::string prefix = mapped.empty() ? "" : (mapped.back() == '/' ? mapped : mapped + "/");
        std::string name = part;
        if (looking) {
            if (!Exists(prefix + part)) {
                const std::string found = FindEntry(mapped, part);
                if (found.empty()) {
                    looking = false;
                } else {
                    name = found;
                }
            }
        }
        mapped = prefix + name;
    }
    return mapped;
}

std::filesystem::path MapAnsiPath(std::string_view path) {
    return MapWindowsPath(platform::ToUtf8(platform::FromAnsi(path)));
}

}  // namespace quorvel::posix
