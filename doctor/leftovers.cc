// What the component itself leaves behind when a call dies.
//
// - The copy a replacement writes beside its file before moving it over the
//   file: left by a writer killed in between. It is a leftover once its
//   writer is gone (or, for a copy whose name does not say its writer, once
//   nobody holds the file's lock); --repair deletes it under the file's lock.
// - A lock file whose file is gone and which nobody holds: deleted while
//   held, so that a caller waiting for it takes the lock again on a new one.
// - An intent record (component/frame/intent.h) found while the method's lock
//   is free: a call died between its steps. --repair runs the method's own
//   repair by calling the method through the component, as its next call
//   would do first; the record stays when the method cannot tell what the
//   dead call did, and its next call tries again.
#include <algorithm>
#include <optional>
#include <set>

#include "base/ascii.h"
#include "automation/objects.h"
#include "doctor/checks.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "support/line_fields.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

using automation::Variant;

constexpr std::u16string_view kIntentEnding = u".intent";

std::string Ansi(const std::u16string& text) { return platform::ToAnsi(text); }

// The methods that keep intent records, with a call that does nothing but
// what every call does first: put right what a dead call left.
std::optional<std::vector<Variant>> RepairCall(const std::u16string& method) {
    if (method == u"PostWebSit") return std::vector<Variant>{Variant(std::u16string()), Variant(std::u16string())};
    if (method == u"PostNTUser")
        return std::vector<Variant>(5, Variant(std::u16string()));
    if (method == u"BackupSit")
        return std::vector<Variant>{Variant(std::u16string()), Variant(std::int32_t{-1}), Variant(std::u16string()),
                                    Variant(std::u16string()), Variant(std::u16string())};
    return std::nullopt;
}

// What a record says of its call, for a message: its action and what it
// worked on (a record holds no secret).
std::u16string Describe(const std::string& bytes) {
    std::u16string action, target;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string_view line(bytes.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, equals);
        const std::u16string value = platform::FromUtf8(platform::UnescapeLineField(line.substr(equals + 1)));
        if (key == "Action") action = value;
        if (target.empty() && (key == "WebSiteName" || key == "UserName" || key == "Bakname")) target = value;
    }
    if (action.empty()) return {};
    return u" (" + action + (target.empty() ? u"" : u" " + target) + u")";
}

class Leftovers {
public:
    Leftovers(const Places& places, Context& context) : state_(places.state), context_(context) {
        for (const std::u16string& guard : places.guards) guards_.insert(base::ToUpperAscii(guard));
    }

    void Folder(const std::u16string& folder) {
        auto entries = platform::ListFolder(Ansi(folder));
        if (!entries) return;
        std::sort(entries->begin(), entries->end(),
                  [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
        const bool state = base::ToUpperAscii(folder) == base::ToUpperAscii(state_);
        for (const platform::FolderEntry& entry : *entries) {
            if (entry.folder) continue;
            const std::u16string name = platform::FromAnsi(entry.name);
            if (const auto copy = platform::ReplacementCopyOf(entry.name)) {
                Copy(folder, name, *copy);
            } else if (const auto target = platform::LockFileTarget(entry.name)) {
                // The state folder's lock files are the methods' own locks.
                if (!state) Lock(folder, name, platform::FromAnsi(*target));
            } else if (state && name.size() > kIntentEnding.size() && name.ends_with(kIntentEnding)) {
                Intent(folder, name);
            }
        }
    }

private:
    void Copy(const std::u16string& folder, const std::u16string& name, const platform::ReplacementCopy& copy) {
        if (copy.process != 0 && platform::ProcessRunning(copy.process)) return;  // still being written
        const std::u16string path = folder + u"\\" + name;
        const std::u16string target = folder + u"\\" + platform::FromAnsi(copy.target);
        // A copy whose name does not say its writer is written under the
        // file's lock: while that is held, it may be one being written.
        std::optional<platform::FileLock> lock;
        if (copy.process == 0) {
            lock.emplace(Ansi(target));
            if (!lock->held()) {
                context_.report.Unchecked(path, u"the lock of " + target + u" cannot be had");
                return;
            }
            if (!platform::FileExists(Ansi(path))) return;
        }
        const std::u16string writer =
            copy.process != 0 ? u"its writer, process " + Decimal(copy.process) + u", is gone" : u"nobody writes it";
        Finding finding{"leftover.temporary-file", path, 0,
                        u"a copy of " + target + u" that a replacement wrote and never moved over it (" + writer + u")",
                        u"delete it", false};
        if (context_.repair) Repair(finding, platform::DeleteFileForced(Ansi(path)) == platform::FileStatus::kDone);
        context_.report.Add(std::move(finding));
    }

    void Lock(const std::u16string& folder, const std::u16string& name, const std::u16string& target_name) {
        const std::u16string path = folder + u"\\" + name;
        const std::u16string target = folder + u"\\" + target_name;
        if (platform::FileExists(Ansi(target)) || platform::FolderExists(Ansi(target))) return;
        if (guards_.count(base::ToUpperAscii(target)) != 0) return;
        Finding finding{"leftover.stale-lock", path, 0, u"the lock file of " + target + u", which is gone",
                        u"delete it while holding it", false};
        if (context_.repair) {
            const platform::FileLock lock(Ansi(target));
            // Made again meanwhile: the lock is in use.
            if (lock.held() && (platform::FileExists(Ansi(target)) || platform::FolderExists(Ansi(target)))) return;
            Repair(finding, lock.held() && platform::DeleteFileForced(Ansi(path)) == platform::FileStatus::kDone);
        }
        context_.report.Add(std::move(finding));
    }

    void Intent(const std::u16string& folder, const std::u16string& name) {
        const std::u16string method = name.substr(0, name.size() - kIntentEnding.size());
        const std::u16string path = folder + u"\\" + name;
        std::optional<std::string> record;
        {
            // A call under way holds the method's lock while its record is there.
            const platform::FileLock lock(Ansi(folder + u"\\" + method));
            if (!lock.held()) {
                context_.report.Unchecked(path, u"the lock of " + method + u" cannot be had");
                return;
            }
            if (!platform::FileExists(Ansi(path))) return;
            record = platform::ReadFileBytes(Ansi(path));
        }
        const auto call = RepairCall(method);
        Finding finding{"leftover.intent", path, 0,
                        u"an interrupted " + method + u" call" + Describe(record.value_or(std::string())) +
                            u" left its intent record: what it changed may be half done",
                        call ? u"run " + method + u"'s own repair through the component, as its next call would"
                             : u"",
                        false};
        if (context_.repair && call) {
            try {
                automation::CreateObject(u"Quorvel.SiteManage").Call(method, *call);
                if (!platform::FileExists(Ansi(path))) {
                    finding.repaired = true;
                } else {
                    context_.report.Unchecked(path, u"not repaired: " + method +
                                                        u" could not tell what the interrupted call did (its log line "
                                                        u"is in DllErr.log); its next call tries again");
                }
            } catch (const StepError& error) {
                context_.report.Unchecked(path, u"not repaired: the component cannot be called: " + error.description);
            }
        }
        context_.report.Add(std::move(finding));
    }

    void Repair(Finding& finding, bool done) {
        if (done) {
            finding.repaired = true;
        } else {
            context_.report.Unchecked(finding.object, u"not repaired: it cannot be deleted");
        }
    }

    const std::u16string& state_;
    Context& context_;
    std::set<std::u16string> guards_;
};

}  // namespace

void CheckLeftovers(const Places& places, Context& context) {
    std::set<std::u16string> seen;
    Leftovers leftovers(places, context);
    std::vector<std::u16string> all = places.folders;
    if (!places.state.empty()) all.push_back(places.state);
    for (const std::u16string& folder : all) {
        if (!seen.insert(base::ToUpperAscii(folder)).second) continue;
        leftovers.Folder(folder);
    }
}

}  // namespace quorvel::doctor
