// The servers' folders on a machine whose administrator named none: the
// fixed drives searched a few levels down, as the servers install there
// (D:\Serv-U, C:\Program Files\Maker\Serv-U), for ServUDaemon.ini and for
// App\USERLIST.DAT. A mail server's folder is not searched further (its
// Users folder holds a folder per mailbox).
#include <string_view>

#include "base/ascii.h"
#include "doctor/checks.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

constexpr int kDepth = 3;

// The system's own folders, where no server keeps its settings.
bool Skipped(std::u16string_view upper_name) {
    return upper_name == u"WINDOWS" || upper_name == u"$RECYCLE.BIN" || upper_name == u"SYSTEM VOLUME INFORMATION";
}

bool Holds(const std::vector<platform::FolderEntry>& entries, std::u16string_view upper_name, bool folder) {
    for (const platform::FolderEntry& entry : entries)
        if (entry.folder == folder && base::ToUpperAscii(platform::FromAnsi(entry.name)) == upper_name) return true;
    return false;
}

void Search(const std::u16string& folder, int depth, ServerFolders& found) {
    const auto entries = platform::ListFolder(platform::ToAnsi(folder));
    if (!entries) return;
    if (Holds(*entries, u"SERVUDAEMON.INI", false)) found.ftp.push_back(folder);
    if (Holds(*entries, u"APP", true)) {
        const auto app = platform::ListFolder(platform::ToAnsi(folder + u"\\App"));
        if (app && Holds(*app, u"USERLIST.DAT", false)) {
            found.mail.push_back(folder);
            return;
        }
    }
    if (depth == kDepth) return;
    for (const platform::FolderEntry& entry : *entries) {
        if (!entry.folder || entry.hidden) continue;
        const std::u16string name = platform::FromAnsi(entry.name);
        if (depth == 0 && Skipped(base::ToUpperAscii(name))) continue;
        Search(folder + u"\\" + name, depth + 1, found);
    }
}

}  // namespace

ServerFolders FindServerFolders() {
    ServerFolders found;
    for (const std::string& drive : platform::FixedDrives()) Search(platform::FromAnsi(drive), 0, found);
    return found;
}

}  // namespace quorvel::doctor
