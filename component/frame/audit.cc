#include "component/frame/audit.h"

#include <optional>

#include "base/ascii.h"
#include "component/frame/object_audit.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "support/audit_fields.h"
#include "support/md5.h"
#include "support/strings.h"

namespace quorvel {
namespace {

constexpr char16_t kRepair[] = u"REPAIR";
constexpr std::int32_t kRepairResult = 5;

// Bytes already in the code page, escaped as their text would be. The bytes
// escaped (below 0x20, "%", 0x7F) are never the second byte of a double-byte
// character, so the bytes can be looked at one by one.
void AppendEscapedBytes(std::string& out, std::string_view bytes) {
    static constexpr char kHexBytes[] = "0123456789ABCDEF";
    const auto escaped = [](char byte) {
        const auto c = static_cast<unsigned char>(byte);
        return c == '%' || c < 0x20 || c == 0x7F;
    };
    // Most fields hold nothing to escape: runs between escapes go in whole.
    for (size_t start = 0; start < bytes.size();) {
        size_t end = start;
        while (end < bytes.size() && !escaped(bytes[end])) ++end;
        out.append(bytes, start, end - start);
        if (end == bytes.size()) break;
        const auto c = static_cast<unsigned char>(bytes[end]);
        out += '%';
        out += kHexBytes[c >> 4];
        out += kHexBytes[c & 15];
        start = end + 1;
    }
}

std::string ValueField(const AuditValue& value) {
    if (value.absent()) return platform::ToAnsi(kAuditAbsent);
    if (!value.is_list()) return UnambiguousAuditValue(AuditField(value.text()));
    std::u16string escaped;
    for (size_t i = 0; i < value.items().size(); ++i) {
        if (i > 0) escaped += u'|';
        escaped += EscapeAuditAscii(value.items()[i], true);
    }
    return UnambiguousAuditValue(AuditFieldOfEscaped(escaped));
}

std::string BytesField(std::optional<std::string_view> bytes) {
    if (!bytes) return platform::ToAnsi(kAuditAbsent);
    std::string field;
    field.reserve(bytes->size());
    AppendEscapedBytes(field, *bytes);
    return UnambiguousAuditValue(std::move(field));
}

AuditValue ParseValue(std::u16string_view field) {
    if (field == kAuditAbsent) return {};
    return AuditValue(UnescapeAuditField(field, true));
}

// The trail that this thread's calls report to: the outermost frame's.
thread_local AuditTrail* t_trail = nullptr;

}  // namespace

AuditValue AuditValue::List(std::vector<std::u16string> items) {
    AuditValue value;
    value.present_ = true;
    value.list_ = true;
    value.items_ = std::move(items);
    return value;
}

AuditValue FileAuditValue(std::u16string_view path) {
    const std::optional<std::string> bytes = platform::ReadFileBytes(platform::ToAnsi(path));
    if (!bytes) return {};
    const std::string digest = Md5HexOfBytes(*bytes);
    return AuditValue(Decimal(static_cast<std::int64_t>(bytes->size())) + u" bytes MD5 " +
                      std::u16string(digest.begin(), digest.end()));
}

namespace {

// The line's first eight fields, each followed by TAB.
std::string LineStart(const AuditLine& line) {
    std::string out;
    for (const std::u16string* field : {&line.date, &line.time, &line.method, &line.action, &line.target}) {
        out += AuditField(*field);
        out += '\t';
    }
    out += std::to_string(line.result);
    out += '\t';
    out += std::to_string(line.process_id);
    out += '\t';
    out += AuditField(line.account);
    return out;
}

void AppendChange(std::string& out, std::string_view object, std::string_view item, std::string_view before,
                  std::string_view after, bool secret) {
    const auto value = [&](std::string_view field) { return secret && field != "-" ? std::string_view("***") : field; };
    for (const std::string_view field : {object, item, value(before), value(after)}) {
        out += '\t';
        out += field;
    }
}

}  // namespace

std::string FormatAuditLine(const AuditLine& line) {
    std::string out = LineStart(line);
    for (const AuditChange& change : line.changes)
        AppendChange(out, AuditField(change.object), AuditField(change.item), ValueField(change.before),
                     ValueField(change.after), IsSecretAuditItem(std::u16string_view(change.item)));
    out += "\r\n";
    return out;
}

std::optional<AuditLine> ParseAuditLine(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n") bytes.remove_suffix(2);
    std::vector<std::u16string> fields;
    for (size_t start = 0;;) {
        const size_t tab = bytes.find('\t', start);
        fields.push_back(platform::FromAnsi(bytes.substr(start, tab == std::string_view::npos ? tab : tab - start)));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (fields.size() < 8 || (fields.size() - 8) % 4 != 0) return std::nullopt;
    const auto number = [](const std::u16string& text) -> std::optional<std::int64_t> {
        if (text.empty() || text.size() > 11) return std::nullopt;
        std::int64_t value = 0;
        size_t i = text[0] == u'-' ? 1 : 0;
        if (i == text.size()) return std::nullopt;
        for (; i < text.size(); ++i) {
            if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
            value = value * 10 + (text[i] - u'0');
        }
        return text[0] == u'-' ? -value : value;
    };
    const auto result = number(fields[5]);
    const auto process = number(fields[6]);
    if (!result || !process || *process < 0) return std::nullopt;
    AuditLine line;
    line.date = UnescapeAuditField(fields[0], true);
    line.time = UnescapeAuditField(fields[1], true);
    line.method = UnescapeAuditField(fields[2], true);
    line.action = UnescapeAuditField(fields[3], true);
    line.target = UnescapeAuditField(fields[4], true);
    line.result = static_cast<std::int32_t>(*result);
    line.process_id = static_cast<std::uint32_t>(*process);
    line.account = UnescapeAuditField(fields[7], true);
    for (size_t i = 8; i < fields.size(); i += 4)
        line.changes.push_back({UnescapeAuditField(fields[i], true), UnescapeAuditField(fields[i + 1], true),
                                ParseValue(fields[i + 2]),
                                ParseValue(fields[i + 3])});
    return line;
}

std::u16string AuditLogPath() { return platform::FromAnsi(platform::LogFolder()) + u"\\DllAudit.log"; }

// ---- the trail of one call ----

// What the profile and object layers see the thread change, added to the trail.
struct AuditTrail::Watchers : profile::ChangeObserver {
    explicit Watchers(AuditTrail& trail)
        : objects(trail), previous_profile(profile::ObserveChanges(this)),
          previous_objects(automation::WatchObjects(&objects)) {}
    ~Watchers() {
        automation::WatchObjects(previous_objects);
        profile::ObserveChanges(previous_profile);
    }
    Watchers(const Watchers&) = delete;
    Watchers& operator=(const Watchers&) = delete;

    void KeyChanged(std::string_view file, std::string_view section, std::string_view key,
                    const std::optional<std::string_view>& before,
                    const std::optional<std::string_view>& after) override {
        objects.trail().MergeKey(file, section, key, before, after);
    }
    void KeysRenumbered(std::string_view file, std::string_view section, std::string_view prefix, std::uint32_t first,
                        std::uint32_t last) override {
        objects.trail().Renumbered(file, section, prefix, first, last);
    }

    ObjectAudit objects;
    profile::ChangeObserver* previous_profile;
    automation::ObjectWatcher* previous_objects;
};

AuditTrail::AuditTrail(std::u16string_view method) : method_(method), watchers_(std::make_unique<Watchers>(*this)) {}

AuditTrail::~AuditTrail() = default;

AuditTrail& AuditTrail::About(std::u16string_view action, std::u16string_view target) {
    action_ = action;
    target_ = target;
    return *this;
}

std::string AuditTrail::ObjectField(std::string_view file) {
    // A call changes many keys of one file: its name is escaped once.
    if (file != last_file_) {
        last_file_.assign(file);
        last_object_.clear();
        AppendEscapedBytes(last_object_, file);
    }
    return last_object_;
}

std::uint32_t AuditTrail::ObjectIndex(std::string field) {
    // A call changes few objects, most often one, many times.
    for (size_t i = objects_.size(); i-- > 0;)
        if (objects_[i] == field) return static_cast<std::uint32_t>(i);
    objects_.push_back(std::move(field));
    return static_cast<std::uint32_t>(objects_.size() - 1);
}

void AuditTrail::Add(std::string object, std::string item, std::string before, std::string after, bool secret,
                     std::string merge_key) {
    const std::uint32_t index = ObjectIndex(std::move(object));
    const bool merged = !merge_key.empty();
    if (merged) {
        merge_key += '\t';
        merge_key += std::to_string(index);
        const auto [at, fresh] = merged_at_.try_emplace(std::move(merge_key), entries_.size());
        if (!fresh) {
            entries_[at->second].after = std::move(after);
            return;
        }
    }
    entries_.push_back({index, std::move(item), std::move(before), std::move(after), secret, merged});
}

AuditTrail& AuditTrail::Change(std::u16string_view object, std::u16string_view item, AuditValue before,
                               AuditValue after) {
    Add(AuditField(object), AuditField(item), ValueField(before), ValueField(after), IsSecretAuditItem(item), {});
    return *this;
}

AuditTrail& AuditTrail::Merge(std::u16string_view object, std::u16string_view item, AuditValue before,
                              AuditValue after) {
    std::string key = AuditField(base::ToUpperAscii(item));
    Add(AuditField(object), AuditField(item), ValueField(before), ValueField(after), IsSecretAuditItem(item),
        key.empty() ? std::string(1, '\0') : std::move(key));
    return *this;
}

AuditTrail& AuditTrail::MergeKey(std::string_view file, std::string_view section, std::string_view key,
                                 std::optional<std::string_view> before, std::optional<std::string_view> after) {
    std::string item;
    item.reserve(section.size() + key.size() + 2);
    item += '[';
    AppendEscapedBytes(item, section);
    item += ']';
    AppendEscapedBytes(item, key);
    std::string merge_key = item;
    std::string object = ObjectField(file);
    Add(std::move(object), std::move(item), BytesField(before), BytesField(after), IsSecretAuditItem(key),
        std::move(merge_key));
    return *this;
}

AuditTrail& AuditTrail::Renumbered(std::string_view file, std::string_view section, std::string_view prefix,
                                   std::uint32_t first, std::uint32_t last) {
    std::string object = ObjectField(file);
    const AuditValue moved = AuditValue::List({platform::FromAnsi(section), platform::FromAnsi(prefix),
                                               Decimal(first), Decimal(last)});
    Add(std::move(object), AuditField(kRenumberItem), ValueField(AuditValue()), ValueField(moved), false, {});
    // The keys' values before it and after it are of different numbers.
    merged_at_.clear();
    return *this;
}

AuditTrail& AuditTrail::Requested() {
    requested_ = true;
    return *this;
}

bool AuditTrail::empty() const {
    if (requested_) return false;
    for (const Entry& entry : entries_)
        if (!entry.merged || entry.before != entry.after) return false;
    return true;
}

bool AuditTrail::Write(std::int32_t result) {
    const bool write = !empty();
    std::string bytes;
    if (write) {
        AuditLine line;
        const platform::DateTimeText now = platform::NowText();
        line.date = platform::FromAnsi(now.date);
        line.time = platform::FromAnsi(now.time);
        line.method = method_;
        line.action = action_;
        line.target = target_;
        line.result = result;
        line.process_id = platform::ProcessId();
        line.account = platform::AccountName();
        bytes = LineStart(line);
        for (const Entry& entry : entries_)
            if (!entry.merged || entry.before != entry.after)
                AppendChange(bytes, objects_[entry.object], entry.item, entry.before, entry.after, entry.secret);
        bytes += "\r\n";
    }
    objects_.clear();
    entries_.clear();
    merged_at_.clear();
    requested_ = false;
    if (!write) return true;
    platform::AppendFile file;
    return file.Open(platform::ToAnsi(AuditLogPath())) && file.Write(bytes);
}

bool AuditTrail::WriteRepair(std::u16string_view target) {
    const std::u16string action = action_;
    const std::u16string call_target = target_;
    About(kRepair, target);
    const bool written = Write(kRepairResult);
    About(action, call_target);
    return written;
}

AuditTrail* AuditTrail::Current() { return t_trail; }

AuditTrail* AuditTrail::MakeCurrent(AuditTrail* trail) {
    AuditTrail* const previous = t_trail;
    t_trail = trail;
    return previous;
}

}  // namespace quorvel
