#include "doctor/audit_trail.h"

#include <algorithm>

#include "base/ascii.h"
#include "mail/files/user_list.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

constexpr char16_t kAbsent[] = u"-";
constexpr char16_t kSecret[] = u"***";
constexpr size_t kFixedFields = 8;  // DATE TIME METHOD ACTION TARGET RESULT PID ACCOUNT

// "%uXXXX" and "%XX" replaced ("%7C" too: the doctor compares whole texts).
std::u16string Unescape(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 5 < text.size() && text[i + 1] == u'u') {
            int unit = 0;
            bool ok = true;
            for (size_t k = 2; k < 6; ++k) {
                const int d = base::HexDigitValue(text[i + k]);
                ok = ok && d >= 0;
                unit = unit * 16 + (d < 0 ? 0 : d);
            }
            if (ok) {
                out += static_cast<char16_t>(unit);
                i += 5;
                continue;
            }
        }
        if (text[i] == u'%' && i + 2 < text.size() && base::HexDigitValue(text[i + 1]) >= 0 && base::HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char16_t>(base::HexDigitValue(text[i + 1]) * 16 + base::HexDigitValue(text[i + 2]));
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

TrailValue ValueOf(std::u16string_view field) {
    if (field == kAbsent) return TrailValue::Absent();
    if (field == kSecret) return {TrailValue::Kind::kSecret, {}};
    return TrailValue::Of(Unescape(field));
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

void AppendHex(std::u16string& out, unsigned value, int digits) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 15];
}

// A field as the trail writes it, in the code page.
std::string Field(std::u16string_view text) {
    std::u16string escaped;
    for (const char16_t c : text) {
        if (c == u'%' || c < 0x20 || c == 0x7F) {
            escaped += u'%';
            AppendHex(escaped, c, 2);
        } else if (c >= 0x80 && !FitsCodePage(std::u16string_view(&c, 1))) {
            escaped += u"%u";
            AppendHex(escaped, c, 4);
        } else {
            escaped += c;
        }
    }
    return platform::ToAnsi(escaped);
}

std::string ValueField(const std::optional<std::u16string>& value, bool secret) {
    if (!value) return platform::ToAnsi(kAbsent);
    if (secret) return platform::ToAnsi(kSecret);
    if (*value == kAbsent) return "%2D";
    if (*value == kSecret) return "%2A**";
    return Field(*value);
}

}  // namespace

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
            call += Unescape(fields[i]);
        }
        for (size_t i = kFixedFields; i < fields.size(); i += 4) {
            const std::u16string object = Unescape(fields[i]);
            const std::u16string item = Unescape(fields[i + 1]);
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
            if (item == u"record") {
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

namespace {

// Whether an item holds a secret: its name ("KEY" of "[SECTION]KEY", or a
// method's name) holds "pass" in any letter case.
bool IsSecretItem(std::u16string_view item) {
    if (!item.empty() && item[0] == u'[') {
        const size_t close = item.find(u']');
        if (close != std::u16string_view::npos) item.remove_prefix(close + 1);
    }
    return base::ToUpperAscii(item).find(u"PASS") != std::u16string::npos;
}

}  // namespace

bool WriteRepairLine(const std::u16string& trail_path, const std::u16string& target,
                     const std::vector<RepairChange>& changes) {
    if (changes.empty()) return true;
    const platform::DateTimeText now = platform::NowText();
    std::string line;
    for (const std::u16string& field :
         {platform::FromAnsi(now.date), platform::FromAnsi(now.time), std::u16string(u"Doctor"),
          std::u16string(u"REPAIR"), target, std::u16string(u"0"), Decimal(ProcessNumber()), ProcessAccount()})
        line += Field(field) + '\t';
    for (const RepairChange& change : changes) {
        const bool secret = IsSecretItem(change.item);
        line += Field(change.object) + '\t' + Field(change.item) + '\t' + ValueField(change.before, secret) + '\t' +
                ValueField(change.after, secret) + '\t';
    }
    line.back() = '\r';
    line += '\n';
    platform::AppendFile file;
    return file.Open(platform::ToAnsi(trail_path)) && file.Write(line);
}

}  // namespace quorvel::doctor
