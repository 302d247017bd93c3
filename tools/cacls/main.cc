// cacls: grants and revokes a user's or group's access to a folder or file,
// and with /t to everything below it, as POSIX ACL entries (libacl).
//
//   cacls PATH [/t] /e /p NAME:PERM [NAME:PERM ...]
//   cacls PATH [/t] /e /r NAME [NAME ...]
//
// PATH is a Windows path of the machine (D:\web maps to the drive's folder,
// any letter case) or a POSIX path. Folders also get the entries as default
// entries, so that what is created in them later inherits the access, as it
// would under NTFS. Any other form changes nothing and exits with 2.
#include <acl/libacl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "platform/posix/paths.h"

namespace {

using quorvel::base::ToUpperAscii;

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr char kHelp[] =
    "usage: cacls PATH [/t] /e /p NAME:PERM [NAME:PERM ...]\n"
    "       cacls PATH [/t] /e /r NAME [NAME ...]\n"
    "\n"
    "Changes the access of POSIX users and groups to PATH, as ACL entries.\n"
    "  PATH   a Windows path of the machine (D:\\web, mapped through machine.ini's\n"
    "         [Drives], any letter case) or a POSIX path\n"
    "  /t     PATH and everything below it (symbolic links are left alone)\n"
    "  /e     edit the existing entries (required: lists are never replaced)\n"
    "  /p     set NAME's entry, replacing an earlier one\n"
    "  /r     remove NAME's entries\n"
    "  NAME   a user, else a group, of this system\n"
    "  PERM   N none (---), R read (r-x), W write (-w- on files, -wx on folders),\n"
    "         C change (rwx), F full (rwx)\n"
    "Folders get the same entries as default entries, so new files and folders\n"
    "inherit them. Switches may be in any letter case. Any other form changes\n"
    "nothing. Exit status: 0 done, 1 a path or name not found or a change that\n"
    "failed, 2 a form that is not understood.\n";

struct Principal {
    acl_tag_t tag;
    id_t id;
};

struct Change {
    std::string name;
    Principal who{};
    char perm = 0;  // 0: remove
};

bool IsSwitch(std::string_view arg, char letter) { return arg.size() == 2 && arg[0] == '/' && ToUpperAscii(arg[1]) == letter; }

std::optional<Principal> Lookup(const std::string& name) {
    if (name.empty()) return std::nullopt;
    if (const passwd* user = getpwnam(name.c_str())) return Principal{ACL_USER, user->pw_uid};
    if (const group* g = getgrnam(name.c_str())) return Principal{ACL_GROUP, g->gr_gid};
    return std::nullopt;
}

// r=4, w=2, x=1, for a folder or a file.
unsigned Bits(char perm, bool folder) {
    switch (perm) {
        case 'R': return 5;
        case 'W': return folder ? 3 : 2;
        case 'C':
        case 'F': return 7;
        default: return 0;
    }
}

class Acl {
public:
    explicit Acl(acl_t acl) : acl_(acl) {}
    ~Acl() {
        if (acl_ != nullptr) acl_free(acl_);
    }
    Acl(const Acl&) = delete;
    Acl& operator=(const Acl&) = delete;
    acl_t get() const { return acl_; }
    acl_t* out() { return &acl_; }
    explicit operator bool() const { return acl_ != nullptr; }

private:
    acl_t acl_;
};

void RemoveEntries(acl_t acl, const Principal& who) {
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1;) {
        acl_tag_t tag;
        acl_get_tag_type(entry, &tag);
        bool match = false;
        if (tag == who.tag) {
            void* qualifier = acl_get_qualifier(entry);
            if (qualifier != nullptr) {
                match = *static_cast<id_t*>(qualifier) == who.id;
                acl_free(qualifier);
            }
        }
        if (match) {
            // Deleting moves the cursor: start again from the first entry.
            acl_delete_entry(acl, entry);
            which = ACL_FIRST_ENTRY;
        } else {
            which = ACL_NEXT_ENTRY;
        }
    }
}

bool AddEntry(acl_t* acl, const Principal& who, unsigned bits) {
    acl_entry_t entry;
    acl_permset_t permset;
    if (acl_create_entry(acl, &entry) != 0 || acl_set_tag_type(entry, who.tag) != 0 ||
        acl_set_qualifier(entry, &who.id) != 0 || acl_get_permset(entry, &permset) != 0)
        return false;
    acl_clear_perms(permset);
    if (bits & 4) acl_add_perm(permset, ACL_READ);
    if (bits & 2) acl_add_perm(permset, ACL_WRITE);
    if (bits & 1) acl_add_perm(permset, ACL_EXECUTE);
    return acl_set_permset(entry, permset) == 0;
}

bool Edit(acl_t* acl, const std::vector<Change>& changes, bool folder) {
    for (const Change& change : changes) {
        RemoveEntries(*acl, change.who);
        if (change.perm != 0 && !AddEntry(acl, change.who, Bits(change.perm, folder))) return false;
    }
    return acl_calc_mask(acl) == 0 && acl_valid(*acl) == 0;
}

bool Report(const std::filesystem::path& path, const char* what) {
    std::fprintf(stderr, "cacls: %s: %s: %s\n", path.c_str(), what, std::strerror(errno));
    return false;
}

bool Apply(const std::filesystem::path& path, const std::vector<Change>& changes) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return Report(path, "cannot be read");
    if (S_ISLNK(st.st_mode)) return true;
    const bool folder = S_ISDIR(st.st_mode);

    Acl access(acl_get_file(path.c_str(), ACL_TYPE_ACCESS));
    if (!access) return Report(path, "cannot read its access list");
    if (!Edit(access.out(), changes, folder)) return Report(path, "cannot edit its access list");
    if (acl_set_file(path.c_str(), ACL_TYPE_ACCESS, access.get()) != 0) return Report(path, "cannot set its access list");
    if (!folder) return true;

    Acl defaults(acl_get_file(path.c_str(), ACL_TYPE_DEFAULT));
    if (!defaults) return Report(path, "cannot read its default list");
    if (acl_entries(defaults.get()) == 0) {
        bool grants = false;
        for (const Change& change : changes) grants = grants || change.perm != 0;
        if (!grants) return true;
        // No default list yet: it starts as the folder's own owner, group and other bits.
        Acl from_mode(acl_from_mode(st.st_mode));
        if (!from_mode) return Report(path, "cannot make its default list");
        std::swap(*defaults.out(), *from_mode.out());
    }
    if (!Edit(defaults.out(), changes, folder)) return Report(path, "cannot edit its default list");
    if (acl_set_file(path.c_str(), ACL_TYPE_DEFAULT, defaults.get()) != 0)
        return Report(path, "cannot set its default list");
    return true;
}

int Usage(const char* why) {
    std::fprintf(stderr, "cacls: %s\n%s", why, kHelp);
    return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "/?")) {
        std::fputs(kHelp, stdout);
        return kDone;
    }
    if (args.empty()) return Usage("no path");

    bool tree = false;
    bool edit = false;
    char mode = 0;  // 'P' or 'R'
    std::vector<Change> changes;
    for (size_t n = 1; n < args.size(); ++n) {
        const std::string& arg = args[n];
        if (IsSwitch(arg, 'T') && !tree && mode == 0) {
            tree = true;
        } else if (IsSwitch(arg, 'E') && !edit && mode == 0) {
            edit = true;
        } else if ((IsSwitch(arg, 'P') || IsSwitch(arg, 'R')) && mode == 0) {
            mode = ToUpperAscii(arg[1]);
        } else if (mode == 'P' && arg[0] != '/') {
            const size_t colon = arg.rfind(':');
            if (colon == std::string::npos || colon + 2 != arg.size()) return Usage("a grant is NAME:PERM");
            const char perm = ToUpperAscii(arg[colon + 1]);
            if (std::string_view("NRWCF").find(perm) == std::string_view::npos)
                return Usage("PERM is one of N, R, W, C, F");
            changes.push_back({arg.substr(0, colon), {}, perm});
        } else if (mode == 'R' && arg[0] != '/') {
            changes.push_back({arg, {}, 0});
        } else {
            return Usage(("not understood: " + arg).c_str());
        }
    }
    if (!edit) return Usage("only /e (editing the existing entries) is supported");
    if (mode == 0 || changes.empty()) return Usage("/p NAME:PERM or /r NAME is needed");

    for (Change& change : changes) {
        const auto who = Lookup(change.name);
        if (!who) {
            std::fprintf(stderr, "cacls: no user or group named '%s'\n", change.name.c_str());
            return kFailed;
        }
        change.who = *who;
    }
    const std::filesystem::path root = quorvel::posix::MapWindowsPath(args[0]);
    struct stat st {};
    if (lstat(root.c_str(), &st) != 0) {
        std::fprintf(stderr, "cacls: %s: not found\n", args[0].c_str());
        return kFailed;
    }

    bool ok = Apply(root, changes);
    if (tree && S_ISDIR(st.st_mode)) {
        std::error_code ec;
        std::filesystem::recursive_directory_iterator it(root, std::filesystem::directory_options::none, ec), end;
        for (; !ec && it != end; it.increment(ec)) ok = Apply(it->path(), changes) && ok;
        if (ec) ok = Report(root, "cannot be walked") && ok;
    }
    return ok ? kDone : kFailed;
}
