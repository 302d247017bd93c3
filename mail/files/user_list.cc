// The list is kept as the bytes read, and rewritten as pieces of them, so
// that a change to a list of any size costs about one read and one write,
// and memory about the file's size.
#include "mail/files/user_list.h"

#include <algorithm>
#include <cstring>

#include "automation/step_error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/strings.h"

namespace quorvel::mail {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::u16string Padded(std::u16string_view text, size_t width) {
    std::u16string field(text);
    field.resize(std::max(width, text.size()), u' ');
    return field;
}

// A limit in its field: decimal, padded on the left with zeros.
std::optional<std::u16string> Limit(std::int32_t value, size_t width) {
    if (value < 0) return std::nullopt;
    const std::u16string digits = Decimal(value);
    if (digits.size() > width) return std::nullopt;
    return std::u16string(width - digits.size(), u'0') + digits;
}

std::string ReadHeld(const std::string& path, const platform::FileLock& lock, HeldUserList::IfMissing if_missing) {
    if (!lock.held()) Raise(kPathFileAccess);
    std::optional<std::string> bytes = platform::ReadFileBytes(path);
    if (bytes) return std::move(*bytes);
    // Only a list that is not there is empty: one that cannot be read would
    // be replaced by its new records alone.
    if (if_missing == HeldUserList::IfMissing::kEmpty && !platform::FileExists(path)) return {};
    Raise(kPathFileAccess);
}

// Consecutive pieces that lie side by side in memory become one.
void Add(std::vector<std::string_view>& pieces, std::string_view piece) {
    if (piece.empty()) return;
    if (!pieces.empty() && pieces.back().data() + pieces.back().size() == piece.data()) {
        pieces.back() = std::string_view(pieces.back().data(), pieces.back().size() + piece.size());
    } else {
        pieces.push_back(piece);
    }
}

}  // namespace

std::u16string MailboxFolder(std::u16string_view mail_dir, std::u16string_view domain, std::u16string_view mailbox) {
    return std::u16string(mail_dir) + u"\\Users\\" + std::u16string(domain) + u"\\" + std::u16string(mailbox) + u"\\";
}

bool FitsField(std::u16string_view value, size_t width) {
    return value.size() <= width &&
           value.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string_view::npos &&
           FitsCodePage(value);
}

std::optional<std::u16string> BuildRecord(const Mailbox& box) {
    if (!FitsField(box.domain, kDomainWidth) || !FitsField(box.mailbox, kMailBoxWidth) ||
        !FitsField(box.real_name, kRealNameWidth) || !FitsField(box.folder, kFolderWidth) ||
        !FitsField(box.password, kPasswordWidth))
        return std::nullopt;
    const auto max = Limit(box.message_max, kMessageMaxWidth);
    const auto disk = Limit(box.message_disk, kMessageDiskWidth);
    if (!max || !disk) return std::nullopt;
    std::u16string record;
    record.reserve(kRecordLength);
    record += Padded(box.domain, kDomainWidth);
    record += Padded(box.mailbox, kMailBoxWidth);
    record += Padded(box.real_name, kRealNameWidth);
    record += Padded(box.folder, kFolderWidth);
    record += Padded(box.password, kPasswordWidth);
    record += kSwitches;
    record += *max;
    record += *disk;
    return record;
}

std::u16string LookupKey(std::u16string_view domain, std::u16string_view mailbox) {
    return Padded(domain, kDomainWidth) + Padded(mailbox, kMailBoxWidth);
}

UserList::UserList(std::string bytes) : bytes_(std::move(bytes)) {
    const char* p = bytes_.data();
    const char* const end = p + bytes_.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* stop = nl != nullptr ? nl : end;
        const char* line_end = (stop > p && stop[-1] == '\r') ? stop - 1 : stop;
        lines_.emplace_back(p, static_cast<size_t>(line_end - p));
        p = nl != nullptr ? nl + 1 : end;
    }
}

std::u16string UserList::Text(size_t n) const { return platform::FromAnsi(lines_[n]); }

std::vector<size_t> UserList::FindAll(std::u16string_view key) const {
    // The bytes of the key find the candidates quickly; a candidate counts
    // only when the line, as text, holds the key (a byte match may start
    // inside a double-byte character).
    const std::string needle = platform::ToAnsi(key);
    std::vector<size_t> found;
    if (needle.empty()) return found;
    size_t from = 0;
    while (from < bytes_.size()) {
        const size_t at = std::string_view(bytes_).find(needle, from);
        if (at == std::string_view::npos) break;
        // The line that holds the hit: the last one that starts at or before it.
        const char* hit = bytes_.data() + at;
        const auto line = std::upper_bound(lines_.begin(), lines_.end(), hit,
                                           [](const char* p, std::string_view l) { return p < l.data(); });
        const size_t n = static_cast<size_t>(line - lines_.begin()) - 1;
        if (Text(n).find(key) != std::u16string::npos) found.push_back(n);
        // On to the next line: a line counts once.
        from = std::max(static_cast<size_t>(lines_[n].data() + lines_[n].size() - bytes_.data()), at + 1);
    }
    return found;
}

std::optional<size_t> UserList::FindLast(std::u16string_view key) const {
    const std::vector<size_t> found = FindAll(key);
    if (found.empty()) return std::nullopt;
    return found.back();
}

std::vector<size_t> UserList::FindAccount(std::u16string_view mailbox, std::u16string_view real_name) const {
    const std::u16string fields = Padded(mailbox, kMailBoxWidth) + Padded(real_name, kRealNameWidth);
    std::vector<size_t> found;
    for (const size_t n : FindAll(fields)) {
        const std::u16string text = Text(n);
        if (text.size() >= kMailBoxPosition + fields.size() && text.compare(kMailBoxPosition, fields.size(), fields) == 0)
            found.push_back(n);
    }
    return found;
}

void UserList::Keep(std::vector<std::string_view>& pieces, size_t n) const {
    const std::string_view line = lines_[n];
    const char* const end = bytes_.data() + bytes_.size();
    const char* after = line.data() + line.size();
    if (end - after >= 2 && after[0] == '\r' && after[1] == '\n') {
        Add(pieces, std::string_view(line.data(), line.size() + 2));
    } else {
        Add(pieces, line);
        Add(pieces, kLineEnd);
    }
}

std::vector<std::string_view> UserList::Rewrite(Change change, size_t n, std::string_view record) const {
    std::vector<std::string_view> pieces;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i == n && change == Change::kRemove) continue;
        if (i == n && change == Change::kReplace) {
            Add(pieces, record);
            Add(pieces, kLineEnd);
            continue;
        }
        Keep(pieces, i);
    }
    if (change == Change::kAppend) {
        Add(pieces, record);
        Add(pieces, kLineEnd);
    }
    return pieces;
}

std::vector<std::string_view> UserList::Without(const std::vector<size_t>& removed) const {
    std::vector<std::string_view> pieces;
    auto next = removed.begin();
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (next != removed.end() && *next == i) {
            ++next;
            continue;
        }
        Keep(pieces, i);
    }
    return pieces;
}

HeldUserList::HeldUserList(const std::string& path, IfMissing if_missing)
    : path_(path), lock_(path), list_(ReadHeld(path_, lock_, if_missing)) {}

void HeldUserList::Replace(std::span<const std::string_view> pieces) const {
    if (!platform::ReplaceFileBytes(path_, pieces)) Raise(kPathFileAccess);
}

}  // namespace quorvel::mail
