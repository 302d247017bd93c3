// The audit trail DllAudit.log: one line for every call that changed
// something, so that an administrator can see what a call did and undo it by
// hand. DllErr.log holds the failures; this file holds the changes.
//
// The file lies beside DllErr.log (the component's folder), is in the same
// system code page, and every line ends with CR LF. A line is appended with
// one write to a file opened for appending (O_APPEND, FILE_APPEND_DATA), so
// lines of concurrent callers never mix.
//
// A line is fields separated by TAB:
//
//   DATE TIME METHOD ACTION TARGET RESULT PID ACCOUNT [OBJECT ITEM OLD NEW]...
//
//   DATE, TIME  as in DllErr.log: yyyy/M/d and H:mm:ss, local time.
//   METHOD      the method: PostFtpSit, PostEmail...
//   ACTION      the action word as the method took it, in capitals (ADD,
//               EDITUSER, BACKUP); REPAIR on the line of a call that put right
//               what an interrupted call left (written before the call's own).
//   TARGET      what the call is about: the account, mailbox (BOX@DOMAIN),
//               domain, site name, folder or backup name; on a REPAIR line the
//               interrupted call's.
//   RESULT      the call's result code: 0, or 4 when a step failed after
//               changes had been made (they are on this line all the same); 5
//               on a REPAIR line, the code of its line in DllErr.log.
//   PID         the calling process's id, in decimal.
//   ACCOUNT     the account the call ran under: DOMAIN\name on Windows (the
//               thread's, so an impersonating ASP page gives its user), the
//               user name on POSIX.
//
// then four fields for each change, in the order the changes were made:
//
//   OBJECT      the file as the method names it (D:\Serv-U\ServUDaemon.ini),
//               or the directory object's ADsPath (IIS://WEBHOST01/W3SVC/3,
//               WinNT://WEBHOST01/alice); a deleted child is named by its
//               container's path, "/" and its name.
//   ITEM        in a profile (INI) file "[SECTION]KEY"; in the mail server's
//               user list "record"; of a directory object the property's name,
//               or "Name()" for a method that changed it (Start(), Add(),
//               SetPassword(), AppCreate2(), Backup()); empty for the object or
//               file itself (created, deleted, replaced as a whole). In a
//               profile file "Renumber()" is a numbered list closed up: NEW
//               "SECTION|PREFIX|FIRST|LAST" says that the keys PREFIX FIRST to
//               PREFIX LAST of the section now bear the numbers one lower,
//               each with its value (so PREFIX LAST is gone), as a DEL that
//               closes the gap in a list of accounts leaves them.
//   OLD, NEW    the value before and after. A property list is its elements
//               joined by "|". For "Name()" items OLD is "-" and NEW the call's
//               arguments, joined by "|". A created directory object has OLD
//               "-" and NEW its class; a deleted one OLD its class and NEW "-".
//               A whole file is "SIZE bytes MD5 HEX" (32 lower-case digits).
//
// Two values are words of their own: "-" means absent (no such key, record,
// property, object or file) and "***" a secret. Every value of an item whose
// name (the KEY of "[SECTION]KEY") holds "pass" in any letter case (Password,
// AnonymousUserPass, SetPassword()...) is written "***" unless absent, and a user-list record
// has its 20-character password field written as "***" and 17 blanks, so it
// keeps its width. Nothing else is hidden.
//
// Every field is escaped so that a line stays one line and can be read back
// exactly (Windows paths keep their backslashes):
//   "%" is "%25"; a character below U+0020 and U+007F are "%XX" (TAB "%09",
//   CR "%0D", LF "%0A"); a character the code page cannot hold is "%uXXXX"
//   (UTF-16 units, so a surrogate pair is two); a value that is exactly "-"
//   or "***" is written "%2D" or "%2A**"; in a list, a "|" inside an element
//   is "%7C".
// To read a line: convert it from the code page, split it at TAB (bytes from
// 0x40 up can be the second byte of a double-byte character, so split ITEM
// and lists only after the conversion), then replace each escape.
//
// What counts as a change: what reached a store (a profile file's keys, a
// user-list record, a directory object's committed properties or its methods
// that change it, a file copied or deleted, a program started, a shutdown
// asked for). A change that the same call undid (a value written and then
// written back) is none. A call that changed nothing writes no line: one
// refused or failed before its first change, a look-up (ISUSER, ISSEARCH),
// an unknown action word, Supervise, SendMail (the message leaves the
// machine; the mail server logs it), GetMailPass (its temporary account is
// added and removed again).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "support/audit_fields.h"

namespace quorvel {

// A value before or after a change.
class AuditValue {
public:
    // Absent: no such key, record, property, object or file.
    AuditValue() = default;
    AuditValue(std::u16string text) : present_(true), text_(std::move(text)) {}
    AuditValue(std::u16string_view text) : AuditValue(std::u16string(text)) {}
    AuditValue(const char16_t* text) : AuditValue(std::u16string(text)) {}
    static AuditValue List(std::vector<std::u16string> items);

    bool absent() const { return !present_; }
    bool is_list() const { return list_; }
    // The text, or the elements of a list.
    const std::u16string& text() const { return text_; }
    const std::vector<std::u16string>& items() const { return items_; }
    bool operator==(const AuditValue& other) const = default;

private:
    bool present_ = false;
    bool list_ = false;
    std::u16string text_;
    std::vector<std::u16string> items_;
};

// A whole file's state, for a change of the file itself: absent, or its size
// and digest.
AuditValue FileAuditValue(std::u16string_view path);

// One change: OBJECT, ITEM, OLD, NEW.
struct AuditChange {
    std::u16string object;
    std::u16string item;
    AuditValue before;
    AuditValue after;
};

// One line, its fields decoded.
struct AuditLine {
    std::u16string date;
    std::u16string time;
    std::u16string method;
    std::u16string action;
    std::u16string target;
    std::int32_t result = 0;
    std::uint32_t process_id = 0;
    std::u16string account;
    std::vector<AuditChange> changes;
};

// The line as written, in the system code page with its CR LF (secrets
// masked); and a line read back (nullopt when it is not one): every escape
// replaced but "%7C", which only a list element holds, so that a list value
// can still be split with SplitAuditList. A secret reads back as the text
// "***", an absent value as absent.
std::string FormatAuditLine(const AuditLine& line);
std::optional<AuditLine> ParseAuditLine(std::string_view bytes);

// DllAudit.log beside DllErr.log.
std::u16string AuditLogPath();

// The changes of one call, and its line. The call frame keeps one for each
// call (a method called by another adds to its caller's) and writes it when
// the call ends; while it lives, what the thread's profile calls and object
// calls change is added to it (component/frame/audit.cc).
class AuditTrail {
public:
    explicit AuditTrail(std::u16string_view method);
    ~AuditTrail();
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    // The line's ACTION and TARGET.
    AuditTrail& About(std::u16string_view action, std::u16string_view target);
    // A change the method made itself (a record, a file, a program started).
    AuditTrail& Change(std::u16string_view object, std::u16string_view item, AuditValue before, AuditValue after);
    // A numbered list of a profile file closed up in one pass: the keys PREFIX
    // FIRST..LAST of the section took the numbers one lower, keeping their
    // values. One item "Renumber()", NEW "SECTION|PREFIX|FIRST|LAST"; a later
    // change of one of those keys is an item of its own.
    AuditTrail& Renumbered(std::string_view file, std::string_view section, std::string_view prefix,
                           std::uint32_t first, std::uint32_t last);
    // A change seen by the profile or object layer: one of the same object
    // and item made earlier in the call keeps its OLD and takes this NEW, and
    // one whose NEW is its OLD again is no change. Names compare without
    // regard to the case of ASCII letters.
    AuditTrail& Merge(std::u16string_view object, std::u16string_view item, AuditValue before, AuditValue after);
    // The same for a profile key, all of it in the code page's bytes as the
    // file holds them (nothing: no such key); names compare byte for byte.
    AuditTrail& MergeKey(std::string_view file, std::string_view section, std::string_view key,
                         std::optional<std::string_view> before, std::optional<std::string_view> after);
    // The call is a change by itself, with no value to show (a shutdown asked
    // for): its line is written even without changes.
    AuditTrail& Requested();

    bool empty() const;
    // Writes the changes so far as one line with `result`, then forgets them;
    // nothing when there are none. False when the line could not be written.
    bool Write(std::int32_t result);
    // The same as the line of a repair: ACTION REPAIR, `target`, RESULT 5.
    bool WriteRepair(std::u16string_view target);

    // The trail this thread's calls add to (the outermost call's), and the
    // one made current in its place, which is returned.
    static AuditTrail* Current();
    static AuditTrail* MakeCurrent(AuditTrail* trail);

    struct Watchers;

private:
    // A change as it will be written: its fields escaped, in the code page
    // ("-" for an absent value; a secret is masked when the line is made).
    struct Entry {
        std::uint32_t object;  // in objects_
        std::string item;
        std::string before;
        std::string after;
        bool secret;
        bool merged;
    };
    std::uint32_t ObjectIndex(std::string field);
    std::string ObjectField(std::string_view file);
    void Add(std::string object, std::string item, std::string before, std::string after, bool secret,
             std::string merge_key);

    std::u16string method_;
    std::u16string action_;
    std::u16string target_;
    std::vector<std::string> objects_;
    std::vector<Entry> entries_;
    std::unordered_map<std::string, size_t> merged_at_;  // merged entries by object and item
    bool requested_ = false;
    std::string last_file_, last_object_;  // the last file named, and its field
    std::unique_ptr<Watchers> watchers_;
};

}  // namespace quorvel
