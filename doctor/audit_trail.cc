#include "doctor/audit_trail.h"

#include <algorithm>

#include "base/ascii.h"
#include "mail/files/user_list.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/audit_fields.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

constexpr size_t kFixedFields = 8;  // DATE TIME METHOD ACTION TARGET RESULT PID ACCOUNT

TrailValue ValueOf(std::u16string_view field) {
    if (field == kAuditAbsent) return TrailValue::Absent();
    if (field == kAuditSecret) return {TrailValue::Kind::kSecret, {}};
    return TrailValue::Of(UnescapeAuditField(field, false));
}

// A file's name as the methods give it, compared without regard to case or
// to doubled separators.
std::u16string FileKey(std::u16string_view file) {
    std::u16string key;
    for (char16_t c : file) {
        if (c == u'/') c = u'\\';
        if (c == u'\\' && !key.empty() && key.back() == u'\\') continue;
        key += base::ToUpperAscii(c);
    }
    return key;
}

std::string ValueField(const std::optional<std::u16string>& value, bool secret) {
    if (!value) return platform::ToAnsi(kAuditAbsent);
    if (secret) return platform::ToAnsi(kAuditSecret);
    return UnambiguousAuditValue(AuditField(*value));
}

}  // namespace

// A numbered list closed up: what was recorded of each key now belongs to the
// key one number lower, as this line's change (a key the trail never named
// hands on nothing), and the last key is gone.
void Trail::Renumber(FileHistory& history, const std::vector<std::u16string>& args, const LastChange& change) {
    if (args.size() != 4) return;
    const std::int64_t first = DecimalDigits(args[2]).value_or(-1), last = DecimalDigits(args[3]).value_or(-1);
    if (first < 1 || last < first) return;
    const auto key = [&](std::int64_t n) { return ProfileItem(args[0], args[1] + Decimal(n)); };
    for (std::int64_t n = first; n <= last; ++n) {
        const auto from = history.items.find(key(n));
        if (from == history.items.end()) {
            history.items.erase(key(n - 1));
        } else {
            history.items[key(n - 1)] = {from->second.after, change.log_line, change.call};
        }
    }
    history.items[key(last)] = {TrailValue::Absent(), change.log_line, change.call};
}

std::u16string ItemName(std::u16string_view section, std::u16string_view key) {
    std::u16string name;
    name.reserve(section.size() + key.size() + 2);
    return name.append(1, u'[').append(section).append(1, u']').append(key);
}

std::u16string Trail::ProfileItem(std::u16string_view section, std::u16string_view key) {
    return ItemName(base::ToUpperAscii(TrimSpaces(section)), base::ToUpperAscii(TrimSpaces(key)));
}

std::u16string Trail::RecordItem(std::u16string_view record) {
    std::u16string key(record.substr(0, std::min(record.size(), mail::kDomainWidth + mail::kMailBoxWidth)));
    key.resize(mail::kDomainWidth + mail::kMailBoxWidth, u' ');
    return key;
}

Trail Trail::Load(const std::u16string& path) {
    Trail trail;
    trail.path_ = path;
    const std::optional<std::string> bytes = platform::ReadFileBytes(platform::ToAnsi(path));
    if (!bytes) return trail;
    trail.exists_ = true;
    const std::u16string text = platform::FromAnsi(*bytes);
    std::int64_t number = 0;
    FileHistory* history = nullptr;  // of object_of_history
    std::u16string object_of_history;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos) end = text.size();
        std::u16string_view line(text.data() + start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        std::vector<std::u16string_view> fields;
        for (size_t from = 0;;) {
            const size_t tab = line.find(u'\t', from);
            fields.push_back(line.substr(from, tab == std::u16string_view::npos ? tab : tab - from));
            if (tab == std::u16string_view::npos) break;
            from = tab + 1;
        }
        if (fields.size() < kFixedFields || (fields.size() - kFixedFields) % 4 != 0) continue;
        std::u16string call;
        for (size_t i = 0; i < 5; ++i) {
            if (i > 0) call += u' ';
            call += UnescapeAuditField(fields[i], false);
        }
        for (size_t i = kFixedFields; i < fields.size(); i += 4) {
            const std::u16string object = UnescapeAuditField(fields[i], false);
            const std::u16string item = UnescapeAuditField(fields[i + 1], false);
            const TrailValue before = ValueOf(fields[i + 2]);
            LastChange change{ValueOf(fields[i + 3]), number, call};
            // A line's changes mostly name one file: it is looked up once.
            if (history == nullptr || object != object_of_history) {
                history = &trail.files_[FileKey(object)];
                object_of_history = object;
            }
            if (item.empty()) {
                // A whole file: what was recorded of its items no longer holds.
                history->items.clear();
                history->whole = std::move(change);
                continue;
            }
            history->whole.reset();
            if (item == kRenumberItem) {
                if (change.after.kind == TrailValue::Kind::kText)
                    Renumber(*history, SplitAuditList(UnescapeAuditField(fields[i + 3], true)), change);
            } else if (item == u"record") {
                const TrailValue& known = change.after.kind == TrailValue::Kind::kText ? change.after : before;
                if (known.kind != TrailValue::Kind::kText) continue;
                history->items[RecordItem(known.text)] = std::move(change);
            } else if (item.size() > 1 && item[0] == u'[') {
                const size_t close = item.find(u']');
                if (close == std::u16string::npos) continue;
                history->items[ProfileItem(std::u16string_view(item).substr(1, close - 1),
                                          std::u16string_view(item).substr(close + 1))] = std::move(change);
            } else {
                history->items[item] = std::move(change);
            }
        }
    }
    return trail;
}

const FileHistory* Trail::Of(const std::u16string& file) const {
    const auto it = files_.find(FileKey(file));
    return it == files_.end() ? nullptr : &it->second;
}

bool WriteRepairLine(const std::u16string& trail_path, const std::u16string& target,
                     const std::vector<RepairChange>& changes) {
    if (changes.empty()) return true;
    const platform::DateTimeText now = platform::NowText();
    std::string line;
    for (const std::u16string& field :
         {platform::FromAnsi(now.date), platform::FromAnsi(now.time), std::u16string(u"Doctor"),
          std::u16string(u"REPAIR"), target, std::u16string(u"0"), Decimal(ProcessNumber()), ProcessAccount()})
        line += AuditField(field) + '\t';
    for (const RepairChange& change : changes) {
        const bool secret = IsSecretAuditItem(std::u16string_view(change.item));
        line += AuditField(change.object) + '\t' + AuditField(change.item) + '\t' +
                ValueField(change.before, secret) + '\t' + ValueField(change.after, secret) + '\t';
    }
    line.back() = '\r';
    line += '\n';
    platform::AppendFile file;
    return file.Open(platform::ToAnsi(trail_path)) && file.Write(line);
}

}  // namespace quorvel::doctor
