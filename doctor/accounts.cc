// The local groups of the WinNT directory: a membership that names an
// account that is gone (Windows shows it by its SID) would pass to the next
// account made with that name, or keeps a dead grant. It has one fix:
// --repair removes it from the group, holding the lock PostNTUser holds for
// its whole call, so that no account action runs in between.
#include <optional>
#include <set>

#include "base/ascii.h"
#include "automation/objects.h"
#include "doctor/checks.h"
#include "platform/file_lock.h"
#include "platform/text.h"
#include "support/computer_name.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

using automation::Object;

// What binding an account that is not there raises.
bool IsNoSuchAccount(const StepError& error) {
    switch (static_cast<std::uint32_t>(error.number)) {
        case 0x800708ADu:  // NERR_UserNotFound
        case 0x80070525u:  // ERROR_NO_SUCH_USER
        case 0x80070534u:  // ERROR_NONE_MAPPED
        case 0x80070003u:  // ERROR_PATH_NOT_FOUND
            return true;
        default:
            return false;
    }
}

struct Dangling {
    Object group;
    std::u16string group_path;
    std::u16string member_path;
    std::u16string member_name;
};

class Groups {
public:
    explicit Groups(std::u16string computer) : computer_(std::move(computer)) {}

    // The memberships that name no account; raises when the directory cannot be read.
    std::vector<Dangling> Find() {
        const Object container = automation::GetObject(u"WinNT://" + computer_);
        std::vector<Object> groups;
        for (const Object& child : container.Children()) {
            names_.insert(base::ToUpperAscii(child.Get(u"Name").Text()));
            if (base::ToUpperAscii(child.Get(u"Class").Text()) == u"GROUP") groups.push_back(child);
        }
        std::vector<Dangling> found;
        for (const Object& group : groups) {
            const std::u16string group_path = group.Get(u"ADsPath").Text();
            for (const Object& member : group.Call(u"Members").AsObject().Children()) {
                const std::u16string path = member.Get(u"ADsPath").Text();
                if (Gone(path)) found.push_back({group, group_path, path, member.Get(u"Name").Text()});
            }
        }
        return found;
    }

private:
    bool Gone(const std::u16string& path) {
        const std::u16string local = base::ToUpperAscii(u"WinNT://" + computer_ + u"/");
        const std::u16string upper = base::ToUpperAscii(path);
        if (upper.starts_with(local)) {
            std::u16string name = upper.substr(local.size());
            name = name.substr(0, name.find(u','));
            return names_.count(name) == 0;
        }
        // An account Windows can no longer name is shown by its SID.
        if (upper.starts_with(u"WINNT://S-1-")) return true;
        try {
            automation::GetObject(path);
            return false;
        } catch (const StepError& error) {
            if (IsNoSuchAccount(error)) return true;
            throw;
        }
    }

    std::u16string computer_;
    std::set<std::u16string> names_;  // every user and group, upper case
};

}  // namespace

void CheckAccounts(Context& context) {
    const std::u16string computer = GetLocalComputerName();
    const std::u16string container = u"WinNT://" + computer;
    if (computer == kUnknownComputerName) {
        context.report.Unchecked(u"WinNT://", u"the computer's name is not available");
        return;
    }
    std::vector<Dangling> dangling;
    std::optional<platform::FileLock> lock;
    try {
        dangling = Groups(computer).Find();
        if (context.repair && !dangling.empty()) {
            // Again under PostNTUser's lock.
            lock.emplace(platform::ToAnsi(ComponentStateFolder() + u"\\PostNTUser"));
            if (!lock->held()) {
                context.report.Unchecked(container, u"not repaired: PostNTUser's lock cannot be had");
                lock.reset();
            } else {
                dangling = Groups(computer).Find();
            }
        }
    } catch (const StepError& error) {
        context.report.Unchecked(container, u"the directory cannot be read: " + error.description);
        return;
    }
    context.report.Checked(container);
    for (const Dangling& d : dangling) {
        Finding finding{"accounts.dangling-member", d.group_path, 0,
                        u"the member " + d.member_name + u" (" + d.member_path +
                            u") names no account: its grant would pass to the next account made with that name",
                        u"remove the membership from the group", false};
        if (lock) {
            try {
                d.group.Call(u"Remove", {d.member_path});
                d.group.Call(u"SetInfo");
                finding.repaired = true;
                RecordRepair(context, d.group_path, {{d.group_path, u"Remove()", std::nullopt, d.member_path}});
            } catch (const StepError& error) {
                context.report.Unchecked(d.group_path, u"not repaired: " + error.description);
            }
        }
        context.report.Add(std::move(finding));
    }
}

}  // namespace quorvel::doctor
