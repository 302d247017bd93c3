// The servers' files held to the audit trail: an item whose content is not
// what the last change the trail records left there was changed outside
// the component (by hand, by another program) since. Only reported: which
// of the two is right is the administrator's to say. An item the trail
// never mentions predates it and is not judged; a secret is never compared.
#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doctor/audit_trail.h"
#include "doctor/checks.h"
#include "doctor/ini_file.h"
#include "mail/files/user_list.h"
#include "platform/text.h"
#include "support/md5.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

using Kind = TrailValue::Kind;

std::u16string Quoted(const std::u16string& text) { return u"\"" + text + u"\""; }

std::u16string Recorded(const LastChange& last) {
    return u"the last change DllAudit.log records for it (line " + Decimal(last.log_line) + u": " + last.call + u")";
}

// The outside edits of one file, reported in the order of their lines
// whatever order the trail's items come in.
class OutsideEdits {
public:
    OutsideEdits(Context& context, const std::u16string& file) : context_(context), file_(file) {}
    OutsideEdits(const OutsideEdits&) = delete;
    OutsideEdits& operator=(const OutsideEdits&) = delete;
    ~OutsideEdits() {
        std::sort(found_.begin(), found_.end(), [](const Finding& a, const Finding& b) {
            return a.line != b.line ? a.line < b.line : a.message < b.message;
        });
        for (Finding& f : found_) context_.report.Add(std::move(f));
    }
    void Add(std::int64_t line, std::u16string message) {
        found_.push_back({"audit.outside-edit", file_, line,
                          std::move(message) + u": it was changed outside the component since", {}, false});
    }

private:
    Context& context_;
    const std::u16string& file_;
    std::vector<Finding> found_;
};

// The server's own answer to a reload request: not the component's to keep.
bool ServersOwn(const std::u16string& item) { return item == u"[GLOBAL]RELOADSETTINGS"; }

// The file as a whole, when the trail's last change of it replaced it whole
// (a restore): its size and digest as that change left them.
void CrossCheckWhole(std::string_view bytes, const FileHistory& history, OutsideEdits& edits) {
    if (!history.whole || history.whole->after.kind != Kind::kText) return;
    const std::u16string now = Decimal(static_cast<std::int64_t>(bytes.size())) + u" bytes MD5 " +
                               platform::FromAnsi(Md5HexOfBytes(bytes));
    if (now != history.whole->after.text)
        edits.Add(0, u"the file (" + now + u") is not the one " + Recorded(*history.whole) + u" left (" +
                history.whole->after.text + u")");
}

}  // namespace

void CrossCheckProfile(const std::u16string& file, std::string_view bytes, const IniFile& ini, Context& context) {
    if (context.trail == nullptr) return;
    const FileHistory* history = context.trail->Of(file);
    if (history == nullptr) return;
    OutsideEdits edits(context, file);
    CrossCheckWhole(bytes, *history, edits);
    for (const auto& [item, last] : history->items) {
        if (last.after.kind == Kind::kSecret || ServersOwn(item)) continue;
        const size_t close = item.find(u']');
        const std::string section = platform::ToAnsi(std::u16string_view(item).substr(1, close - 1));
        const std::string key_name = platform::ToAnsi(std::u16string_view(item).substr(close + 1));
        const IniSection* found = ini.Find(section);
        const IniKey* key = found != nullptr ? found->Find(key_name) : nullptr;
        const bool present = key != nullptr && key->has_value;
        const std::u16string now = present ? platform::FromAnsi(key->value) : u"";
        const bool recorded = last.after.kind == Kind::kText;
        if (present == recorded && (!present || TrimSpaces(now) == TrimSpaces(last.after.text))) continue;
        const std::u16string name = ItemName(platform::FromAnsi(found != nullptr ? found->name : section),
                                             platform::FromAnsi(key != nullptr ? key->name : key_name));
        edits.Add(key != nullptr ? key->line : found != nullptr ? found->line : 0,
            name + (present ? u" is " + Quoted(now) : u" is not there") + u", but " + Recorded(last) +
                (recorded ? u" made it " + Quoted(last.after.text) : u" removed it"));
    }
}

void CrossCheckUserList(const std::u16string& file, const mail::UserList& list, Context& context) {
    if (context.trail == nullptr) return;
    const FileHistory* history = context.trail->Of(file);
    if (history == nullptr) return;
    OutsideEdits edits(context, file);
    CrossCheckWhole(list.bytes(), *history, edits);
    if (history->items.empty()) return;
    // The records of each domain and mailbox, as they are: one pass, since
    // the trail may name every mailbox of the list.
    std::unordered_map<std::u16string, std::vector<size_t>> records_of;
    records_of.reserve(list.size());
    for (size_t n = 0; n < list.size(); ++n) records_of[Trail::RecordItem(list.Text(n))].push_back(n);
    const std::vector<size_t> none;
    for (const auto& [key, last] : history->items) {
        if (last.after.kind == Kind::kSecret) continue;
        const auto found = records_of.find(key);
        const std::vector<size_t>& records = found != records_of.end() ? found->second : none;
        const std::u16string_view fields(key);
        const std::u16string who = std::u16string(TrimSpaces(fields.substr(mail::kDomainWidth))) + u"@" +
                                   std::u16string(TrimSpaces(fields.substr(0, mail::kDomainWidth)));
        if (last.after.kind == Kind::kAbsent) {
            if (!records.empty())
                edits.Add(static_cast<std::int64_t>(records.front() + 1),
                    u"the record of " + who + u" is there, but " + Recorded(last) + u" removed it");
            continue;
        }
        bool same = false;
        for (const size_t n : records) same = same || mail::HidePassword(list.Text(n)) == last.after.text;
        if (same) continue;
        if (records.empty()) {
            edits.Add(0, u"the record of " + who + u" is not there, but " + Recorded(last) + u" made it");
        } else {
            edits.Add(static_cast<std::int64_t>(records.front() + 1),
                u"the record of " + who + u" is not what " + Recorded(last) + u" made it");
        }
    }
}

void RecordRepair(Context& context, const std::u16string& target, const std::vector<RepairChange>& changes) {
    if (context.trail == nullptr || changes.empty()) return;
    if (!WriteRepairLine(context.trail->path(), target, changes))
        context.report.Unchecked(context.trail->path(), u"the repair of " + target + u" could not be recorded");
}

std::vector<RepairChange> ProfileChanges(const std::u16string& file, const IniFile& before, const IniFile& after) {
    std::vector<RepairChange> changes;
    auto value = [](const IniSection* section, const std::string& key) -> std::optional<std::string> {
        const IniKey* found = section != nullptr ? section->Find(key) : nullptr;
        if (found == nullptr || !found->has_value) return std::nullopt;
        return found->value;
    };
    auto compare = [&](const IniSection& section, const IniSection* other, bool from_before) {
        for (const IniKey& key : section.keys) {
            if (!key.has_value && !from_before) continue;
            const std::optional<std::string> mine = value(&section, key.name);
            const std::optional<std::string> theirs = value(other, key.name);
            if (!from_before && theirs) continue;  // seen from the other side
            if (mine == theirs) continue;
            const std::optional<std::string>& old = from_before ? mine : theirs;
            const std::optional<std::string>& now = from_before ? theirs : mine;
            auto text = [](const std::optional<std::string>& v) {
                return v ? std::optional<std::u16string>(platform::FromAnsi(*v)) : std::nullopt;
            };
            changes.push_back(
                {file, ItemName(platform::FromAnsi(section.name), platform::FromAnsi(key.name)), text(old), text(now)});
        }
    };
    for (const IniSection& section : before.sections()) compare(section, after.Find(section.name), true);
    for (const IniSection& section : after.sections()) compare(section, before.Find(section.name), false);
    return changes;
}

}  // namespace quorvel::doctor
