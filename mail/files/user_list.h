// The mail server's user list (USERLIST.DAT): one fixed-width record per
// line, in the system code page. Shared by the mailbox methods and the
// webmail stand-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_lock.h"

namespace quorvel::mail {

// Field widths, in characters of the text (a double-byte character is one).
inline constexpr size_t kDomainWidth = 45;
inline constexpr size_t kMailBoxWidth = 30;
inline constexpr size_t kRealNameWidth = 30;
inline constexpr size_t kFolderWidth = 90;
inline constexpr size_t kPasswordWidth = 20;
inline constexpr size_t kMessageMaxWidth = 4;
inline constexpr size_t kMessageDiskWidth = 6;
inline constexpr size_t kMailBoxPosition = kDomainWidth;
inline constexpr size_t kPasswordPosition = kDomainWidth + kMailBoxWidth + kRealNameWidth + kFolderWidth;
inline constexpr size_t kRecordLength = 235;
inline constexpr char16_t kSwitches[] = u"NNYYYNNYNN";

struct Mailbox {
    std::u16string domain;
    std::u16string mailbox;
    std::u16string real_name;
    std::u16string folder;
    std::u16string password;
    std::int32_t message_max = 0;
    std::int32_t message_disk = 0;
};

// The folder of a mailbox: MailDir\Users\Domain\MailBox\ .
std::u16string MailboxFolder(std::u16string_view mail_dir, std::u16string_view domain, std::u16string_view mailbox);

// Whether a value fits a text field: short enough, no CR, LF or NUL, which
// would split or cut the record, and no character the code page cannot hold,
// which would reach the file as '?'.
bool FitsField(std::u16string_view value, size_t width);

// The 235-character record; nullopt when a value does not fit its field (a
// limit that is negative or longer than its field counts as not fitting).
std::optional<std::u16string> BuildRecord(const Mailbox& box);

// Domain and mailbox, each padded to its field: what identifies a record.
std::u16string LookupKey(std::u16string_view domain, std::u16string_view mailbox);

// The list as read: the file's bytes and its lines (a line ends at LF, a CR
// before it is not part of it; an unended last line is a line).
class UserList {
public:
    explicit UserList(std::string bytes);
    // The lines point into the bytes: the list stays where it was made.
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    size_t size() const { return lines_.size(); }
    std::string_view line(size_t n) const { return lines_[n]; }
    // A line as text.
    std::u16string Text(size_t n) const;

    // The lines that hold `key`, compared character by character, case
    // significant, in order; and the last of them.
    std::vector<size_t> FindAll(std::u16string_view key) const;
    std::optional<size_t> FindLast(std::u16string_view key) const;

    // The records whose mailbox and full-name fields hold these names, in order.
    std::vector<size_t> FindAccount(std::u16string_view mailbox, std::u16string_view real_name) const;

    // The content of the list after one change, every line ended by CR LF, as
    // pieces of the bytes read and of `record` (which the caller keeps alive).
    enum class Change { kAppend, kReplace, kRemove };
    std::vector<std::string_view> Rewrite(Change change, size_t n, std::string_view record) const;
    // The content without the lines `removed` (ascending), the same way.
    std::vector<std::string_view> Without(const std::vector<size_t>& removed) const;

private:
    // Appends line `n` with CR LF, taken from the bytes read where they hold it.
    void Keep(std::vector<std::string_view>& pieces, size_t n) const;

    std::string bytes_;
    std::vector<std::string_view> lines_;
};

// The list at `path` (Windows form, system code page) read whole under its
// lock, which is held while this lives. Raises error 75 when the lock cannot
// be had or the file cannot be read, and when a replacement cannot be written.
class HeldUserList {
public:
    // A missing list fails the methods, which look for the mail server's
    // files first; to the webmail server it is an empty one, which its first
    // account makes.
    enum class IfMissing { kFail, kEmpty };
    explicit HeldUserList(const std::string& path, IfMissing if_missing = IfMissing::kFail);
    const UserList& list() const { return list_; }
    // Replaces the file atomically by the pieces.
    void Replace(std::span<const std::string_view> pieces) const;

private:
    std::string path_;
    platform::FileLock lock_;
    UserList list_;
};

}  // namespace quorvel::mail
