#include "component/frame/audit.h"

#include <optional>

#include "component/frame/object_audit.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "support/md5.h"
#include "support/strings.h"

namespace quorvel {
namespace {

constexpr char16_t kAbsent[] = u"-";
constexpr char16_t kSecret[] = u"***";
constexpr char16_t kRepair[] = u"REPAIR";
constexpr std::int32_t kRepairResult = 5;
constexpr char16_t kHex[] = u"0123456789ABCDEF";

void AppendHex(std::u16string& out, unsigned value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 15];
}

// The escapes of a field that are ASCII: "%", controls, and "|" in a list
// element. The code page's turn comes after.
std::u16string EscapeAscii(std::u16string_view text, bool in_list) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        if (c == u'%' || c < 0x20 || c == 0x7F || (in_list && c == u'|')) {
            out += u'%';
            AppendHex(out, c, 2);
        } else {
            out += c;
        }
    }
    return out;
}

// The field in the code page; a character it cannot hold as %uXXXX.
std::string ToField(std::u16string_view escaped) {
    if (auto bytes = platform::TryToAnsi(escaped)) return std::move(*bytes);
    std::u16string out;
    for (size_t i = 0; i < escaped.size();) {
        const bool pair = escaped[i] >= 0xD800 && escaped[i] <= 0xDBFF && i + 1 < escaped.size() &&
                          escaped[i + 1] >= 0xDC00 && escaped[i + 1] <= 0xDFFF;
        const std::u16string_view one = escaped.substr(i, pair ? 2 : 1);
        if (platform::TryToAnsi(one)) {
            out += one;
        } else {
            for (const char16_t unit : one) {
                out += u"%u";
                AppendHex(out, unit, 4);
            }
        }
        i += one.size();
    }
    return platform::ToAnsi(out);
}

std::string Field(std::u16string_view text) { return ToField(EscapeAscii(text, false)); }

// A value: "-" when absent, "***" when secret, else its escaped text (a
// value that reads as one of those words has its first character escaped).
std::string ValueField(const AuditValue& value, bool secret) {
    if (value.absent()) return platform::ToAnsi(kAbsent);
    if (secret) return platform::ToAnsi(kSecret);
    std::u16string escaped;
    if (value.is_list()) {
        for (size_t i = 0; i < value.items().size(); ++i) {
            if (i > 0) escaped += u'|';
            escaped += EscapeAscii(value.items()[i], true);
        }
    } else {
        escaped = EscapeAscii(value.text(), false);
    }
    if (escaped == kAbsent) escaped = u"%2D";
    if (escaped == kSecret) escaped = u"%2A**";
    return ToField(escaped);
}

// An item whose name holds "pass" in any letter case holds a secret.
bool IsSecret(std::u16string_view item) {
    return UpperAscii(item).find(u"PASS") != std::u16string::npos;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// The escapes replaced, all but "%7C", which only a list element holds.
std::u16string Unescape(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 5 < text.size() && text[i + 1] == u'u') {
            unsigned unit = 0;
            bool ok = true;
            for (size_t k = 2; k < 6; ++k) {
                const int d = HexDigit(text[i + k]);
                ok = ok && d >= 0;
                unit = unit * 16 + static_cast<unsigned>(d < 0 ? 0 : d);
            }
            if (ok) {
                out += static_cast<char16_t>(unit);
                i += 5;
                continue;
            }
        }
        if (text[i] == u'%' && i + 2 < text.size()) {
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high >= 0 && low >= 0 && !(high == 7 && (low == 12))) {
                out += static_cast<char16_t>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

AuditValue ParseValue(std::u16string_view field) {
    if (field == kAbsent) return {};
    return AuditValue(Unescape(field));
}

bool EqualFolded(std::u16string_view a, std::u16string_view b) { return UpperAscii(a) == UpperAscii(b); }

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

std::vector<std::u16string> SplitAuditList(std::u16string_view text) {
    std::vector<std::u16string> items = Split(text, u'|');
    for (std::u16string& item : items) {
        for (size_t at = item.find(u"%7C"); at != std::u16string::npos; at = item.find(u"%7C", at + 1))
            item.replace(at, 3, u"|");
    }
    return items;
}

std::string FormatAuditLine(const AuditLine& line) {
    std::string out;
    out.reserve(128 + line.changes.size() * 64);
    const auto add = [&](const std::string& field) {
        out += field;
        out += '\t';
    };
    add(Field(line.date));
    add(Field(line.time));
    add(Field(line.method));
    add(Field(line.action));
    add(Field(line.target));
    add(Field(Decimal(line.result)));
    add(Field(Decimal(line.process_id)));
    add(Field(line.account));
    for (const AuditChange& change : line.changes) {
        const bool secret = IsSecret(change.item);
        add(Field(change.object));
        add(Field(change.item));
        add(ValueField(change.before, secret));
        add(ValueField(change.after, secret));
    }
    out.back() = '\r';
    out += '\n';
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
    line.date = Unescape(fields[0]);
    line.time = Unescape(fields[1]);
    line.method = Unescape(fields[2]);
    line.action = Unescape(fields[3]);
    line.target = Unescape(fields[4]);
    line.result = static_cast<std::int32_t>(*result);
    line.process_id = static_cast<std::uint32_t>(*process);
    line.account = Unescape(fields[7]);
    for (size_t i = 8; i < fields.size(); i += 4)
        line.changes.push_back({Unescape(fields[i]), Unescape(fields[i + 1]), ParseValue(fields[i + 2]),
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
        const auto value = [](const std::optional<std::string_view>& bytes) {
            return bytes ? AuditValue(platform::FromAnsi(*bytes)) : AuditValue();
        };
        objects.trail().Merge(platform::FromAnsi(file),
                              u"[" + platform::FromAnsi(section) + u"]" + platform::FromAnsi(key), value(before),
                              value(after));
    }

    ObjectAudit objects;
    profile::ChangeObserver* previous_profile;
    automation::ObjectWatcher* previous_objects;
};

AuditTrail::AuditTrail(std::u16string_view method) : watchers_(std::make_unique<Watchers>(*this)) {
    line_.method = method;
}

AuditTrail::~AuditTrail() = default;

AuditTrail& AuditTrail::About(std::u16string_view action, std::u16string_view target) {
    line_.action = action;
    line_.target = target;
    return *this;
}

AuditTrail& AuditTrail::Change(std::u16string_view object, std::u16string_view item, AuditValue before,
                               AuditValue after) {
    line_.changes.push_back({std::u16string(object), std::u16string(item), std::move(before), std::move(after)});
    merged_.push_back(false);
    return *this;
}

AuditTrail& AuditTrail::Merge(std::u16string_view object, std::u16string_view item, AuditValue before,
                              AuditValue after) {
    for (size_t i = 0; i < line_.changes.size(); ++i) {
        AuditChange& earlier = line_.changes[i];
        if (merged_[i] && EqualFolded(earlier.item, item) && EqualFolded(earlier.object, object)) {
            earlier.after = std::move(after);
            return *this;
        }
    }
    Change(object, item, std::move(before), std::move(after));
    merged_.back() = true;
    return *this;
}

AuditTrail& AuditTrail::Requested() {
    requested_ = true;
    return *this;
}

bool AuditTrail::empty() const {
    if (requested_) return false;
    for (size_t i = 0; i < line_.changes.size(); ++i)
        if (!merged_[i] || line_.changes[i].before != line_.changes[i].after) return false;
    return true;
}

bool AuditTrail::Write(std::int32_t result) {
    if (empty()) {
        line_.changes.clear();
        merged_.clear();
        return true;
    }
    AuditLine line = line_;
    line.changes.clear();
    for (size_t i = 0; i < line_.changes.size(); ++i)
        if (!merged_[i] || line_.changes[i].before != line_.changes[i].after) line.changes.push_back(line_.changes[i]);
    line_.changes.clear();
    merged_.clear();
    requested_ = false;
    const platform::DateTimeText now = platform::NowText();
    line.date = platform::FromAnsi(now.date);
    line.time = platform::FromAnsi(now.time);
    line.result = result;
    line.process_id = platform::ProcessId();
    line.account = platform::AccountName();
    platform::AppendFile file;
    return file.Open(platform::ToAnsi(AuditLogPath())) && file.Write(FormatAuditLine(line));
}

bool AuditTrail::WriteRepair(std::u16string_view target) {
    const std::u16string action = line_.action;
    const std::u16string call_target = line_.target;
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
