// PostFtpSit: one account action on the FTP server's ServUDaemon.ini.
//
// The whole call holds the file in one profile transaction: the lock keeps
// concurrent calls from interleaving their read-modify-write, and the changes
// reach the disk together at the end, so the server never reads a half-made
// account.
//
// Choices where the behaviour is ours to make:
// - A domain list holds at most 998 accounts: ADD to a full list is refused
//   with result 4 and writes nothing; entry 999, if another program wrote
//   it, is never found, and DEL moves it down when it closes a gap.
// - Without a domain number (no domain key has a value, or the character
//   where the number belongs is not a digit) the call writes nothing and
//   ends with 4 and the text of that failure.
// - A user-list entry shorter than its four-character suffix names no
//   account: it matches nothing, and STOP/START of it fails as a step.
// - An account name holding CR, LF, NUL or "]", or a home folder or access
//   item holding CR, LF or NUL, would add keys or sections to the file: the
//   call is refused with result 1 before anything is written. So is one
//   holding a character the code page cannot hold, whose '?' would name or
//   write something else; and a password that ADD, EDIT or MPASS would
//   store with such a character ("a😀" and "a??" would give one value).
// - The user list is read with a buffer of 144 bytes: an account name whose
//   entry (with its four-character suffix) takes more than 143 bytes in the
//   code page could be added but never found again. Such a name is refused
//   the same way.
// - Closing the gap moves each entry whole, also one longer than the buffer
//   that another program wrote.
#include "ftp/post_ftp_sit.h"

#include <vector>

#include "base/ascii.h"
#include "component/frame/frame.h"
#include "support/find_file.h"
#include "support/md5.h"
#include "support/profile.h"
#include "support/strings.h"

namespace quorvel::ftp {
namespace {

constexpr std::int32_t kValueSize = 144;
constexpr int kDomainKeys = 99;
constexpr int kMaxAccounts = 998;
constexpr int kLastEntry = 999;

constexpr char16_t kNoFtpSoftware[] = u"，错误源：Ftp软件 ，错误描述：Ftp软件未安装或版本错误";
constexpr char16_t kUserExists[] = u"，错误源：Ftp用户 ，错误描述：用户已经存在";
constexpr char16_t kNoSuchUser[] = u"，错误源：Ftp用户 ，错误描述：用户不存在";
constexpr char16_t kUnsafeInput[] = u"，错误源：Ftp用户 ，错误描述：用户名、主目录或访问权限含有不允许的字符";
constexpr char16_t kNameTooLong[] = u"，错误源：Ftp用户 ，错误描述：用户名过长，连同四个字符的后缀不能超过143字节";
constexpr char16_t kUnsafePassword[] = u"，错误源：Ftp用户 ，错误描述：密码含有不允许的字符";
constexpr char16_t kListFull[] = u"，错误源：Ftp用户 ，错误描述：用户数已达上限998";

constexpr char16_t kEnabled[] = u"|1|0";
constexpr char16_t kDisabled[] = u"|0|0";
constexpr size_t kSuffixLength = 4;

struct Search {
    bool found = false;
    int entry = 0;  // the match, or the free slot
};

struct Settings {
    std::u16string password;
    std::u16string home;
    std::vector<std::u16string> access;
    std::int32_t max_users;
    std::int32_t disk_quota;
    std::int32_t idle;
    std::int32_t speed_up;
    std::int32_t speed_down;
};

// The user list's entries are the keys User1, User2...
constexpr char16_t kEntryKey[] = u"User";

std::u16string UserKey(int k) { return kEntryKey + Decimal(k); }

// The number of the first domain: the digit two places before the end of its
// (trimmed) value.
std::int32_t DomainNumber(const std::u16string& file) {
    std::u16string value;
    for (int n = 1; n <= kDomainKeys; ++n) {
        value = ReadIniValue(u"DOMAINS", u"Domain" + Decimal(n), kValueSize, file);
        if (!IsBlank(value)) break;
    }
    const std::ptrdiff_t position = static_cast<std::ptrdiff_t>(TrimSpaces(value).size()) - 2;
    if (position < 1) Raise(kInvalidCall);
    const char16_t digit = value[static_cast<size_t>(position - 1)];
    if (digit < u'0' || digit > u'9') Raise(kTypeMismatch);
    return digit - u'0';
}

// The account's entry in the domain's user list, or the first free slot; a
// blank entry ends the list.
Search FindAccount(const std::u16string& list, const std::u16string& user, const std::u16string& file) {
    Search search{false, 1};
    ForEachIniListEntry(list, kEntryKey, 1, kMaxAccounts, kValueSize, file, [&](int k, const std::u16string& entry) {
        if (entry.size() >= kSuffixLength && std::u16string_view(entry).substr(0, entry.size() - kSuffixLength) == user) {
            search = {true, k};
            return false;
        }
        search.entry = k + 1;  // entry 999 when the list is full
        return true;
    });
    return search;
}

bool IsSafeInput(const std::u16string& user, const std::u16string& home, const std::vector<std::u16string>& access) {
    if (!IsSafeProfileText(user, ProfileText::kSection)) return false;
    if (!IsSafeProfileText(home, ProfileText::kValue)) return false;
    for (const auto& item : access)
        if (!IsSafeProfileText(item, ProfileText::kValue)) return false;
    return true;
}

bool StoresPassword(const std::u16string& action) {
    return action == u"ADD" || action == u"EDIT" || action == u"MPASS";
}

bool ChangesAccounts(const std::u16string& action) {
    return action == u"ADD" || action == u"EDIT" || action == u"DEL" || action == u"MPASS" || action == u"STOP" ||
           action == u"START";
}

// The account's section, keys in the order the server's own tools write them.
void WriteSettings(CallFrame& frame, const std::u16string& section, const Settings& s, const std::u16string& file) {
    frame.Step([&] { WriteIniValue(section, u"Password", s.password, file); });
    frame.Step([&] { WriteIniValue(section, u"HomeDir", s.home, file); });
    frame.Step([&] { WriteIniValue(section, u"RelPaths", u"1", file); });
    frame.Step([&] {
        if (s.access.empty()) Raise(kSubscriptOutOfRange);
        for (size_t n = 0; n < s.access.size(); ++n)
            WriteIniValue(section, u"Access" + Decimal(static_cast<std::int64_t>(n) + 1), s.access[n], file);
    });
    frame.Step([&] {
        WriteIniValue(section, u"DiskQuota", u"1|" + Decimal(CheckedMultiply(s.disk_quota, 1024)) + u"|0", file);
    });
    frame.Step([&] { WriteIniValue(section, u"MaxNrUsers", Decimal(s.max_users), file); });
    frame.Step([&] { WriteIniValue(section, u"SpeedLimitUp", Decimal(CheckedMultiply(s.speed_up, 1024)), file); });
    frame.Step([&] { WriteIniValue(section, u"SpeedLimitDown", Decimal(CheckedMultiply(s.speed_down, 1024)), file); });
    frame.Step([&] { WriteIniValue(section, u"SessionTimeOut", Decimal(CheckedMultiply(s.idle, 60)), file); });
    frame.Step([&] { WriteIniValue(section, u"TimeOut", Decimal(CheckedMultiply(s.idle, 60)), file); });
}

// Entries after the deleted one move up by one, so that the list has no gap:
// each entry up to the first blank one (or entry 999) takes the number before
// its own, whole, also one longer than the buffer that another program wrote.
void CloseGap(CallFrame& frame, const std::u16string& list, int deleted, const std::u16string& file) {
    frame.Step([&] { CloseIniGap(list, kEntryKey, deleted + 1, kLastEntry, file); });
}

// The state is kept twice: in the user-list entry's suffix and in "Enable".
void SetEnabled(CallFrame& frame, const std::u16string& list, int entry_number, const std::u16string& section,
                bool enabled, const std::u16string& file) {
    frame.Step([&] {
        const std::u16string entry = ReadIniValue(list, UserKey(entry_number), kValueSize, file);
        if (entry.size() < kSuffixLength) Raise(kInvalidCall);
        WriteIniValue(list, UserKey(entry_number),
                      entry.substr(0, entry.size() - kSuffixLength) + (enabled ? kEnabled : kDisabled), file);
    });
    frame.Step([&] { WriteIniValue(section, u"Enable", enabled ? u"1" : u"0", file); });
}

void RequestReload(CallFrame& frame, const std::u16string& file) {
    frame.Step([&] { WriteIniValue(u"GLOBAL", u"ReloadSettings", u"True", file); });
}

}  // namespace

std::int32_t PostFtpSit(std::u16string FtpAction, std::u16string FtpUser, std::u16string CFile,
                        std::u16string FtpPass, std::u16string HomeDir, std::u16string Access,
                        std::int32_t MaxNrUsers, std::int32_t DiskQuota, std::int32_t FtpLdle,
                        std::int32_t SpeedLimitUp, std::int32_t SpeedLimitDown) {
    CallFrame frame(u"PostFtpSit", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        Settings settings{{}, HomeDir, {}, MaxNrUsers, DiskQuota, FtpLdle, SpeedLimitUp, SpeedLimitDown};
        if (!Access.empty()) settings.access = Split(Access, u',');

        const std::u16string file = CFile + u"\\ServUDaemon.ini";
        if (!FindsFile(file)) return frame.Detected(kPreconditionFailed, kNoFtpSoftware);

        const std::u16string action = base::ToUpperAscii(FtpAction);
        frame.Audit().About(action, FtpUser);
        if (ChangesAccounts(action) && !IsSafeInput(FtpUser, HomeDir, settings.access))
            return frame.Detected(kPreconditionFailed, kUnsafeInput);
        if (StoresPassword(action) && !FitsCodePage(FtpPass)) return frame.Detected(kPreconditionFailed, kUnsafePassword);
        if (ChangesAccounts(action) && !FitsIniBuffer(FtpUser + kEnabled, kValueSize))
            return frame.Detected(kPreconditionFailed, kNameTooLong);

        ProfileTransaction transaction(file);
        frame.Step([&] { settings.password = u"vk" + base::ToUpperAscii(Md5Hex(u"vk" + FtpPass)); });

        std::int32_t domain = 0;
        bool have_domain = false;
        frame.Step([&] {
            domain = DomainNumber(file);
            have_domain = true;
        });
        if (!have_domain) return frame.Finish();

        const std::u16string list = u"Domain" + Decimal(domain);
        const std::u16string section = u"USER=" + FtpUser + u"|" + Decimal(domain);
        const Search account = FindAccount(list, FtpUser, file);

        if (action == u"ADD") {
            if (account.found) return frame.Detected(kAlreadyExists, kUserExists);
            if (account.entry > kMaxAccounts) return frame.Detected(kStepFailed, kListFull);
            frame.Step([&] { WriteIniValue(list, UserKey(account.entry), FtpUser + kEnabled, file); });
            WriteSettings(frame, section, settings, file);
            RequestReload(frame, file);
        } else if (action == u"EDIT") {
            if (!account.found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            WriteSettings(frame, section, settings, file);
            RequestReload(frame, file);
        } else if (action == u"DEL") {
            if (!account.found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            frame.Step([&] { WriteIniSection(section, kNullMarker, file); });
            frame.Step([&] { WriteIniValue(list, UserKey(account.entry), kNullMarker, file); });
            CloseGap(frame, list, account.entry, file);
            RequestReload(frame, file);
        } else if (action == u"MPASS") {
            if (!account.found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            frame.Step([&] { WriteIniValue(section, u"Password", settings.password, file); });
            RequestReload(frame, file);
        } else if (action == u"ISUSER") {
            if (!account.found) return frame.Detected(kDoesNotExist, kNoSuchUser);
        } else if (action == u"STOP" || action == u"START") {
            if (!account.found) return frame.Detected(kDoesNotExist, kNoSuchUser);
            SetEnabled(frame, list, account.entry, section, action == u"START", file);
            RequestReload(frame, file);
        }

        frame.Step([&] { transaction.Commit(); });
        return frame.Finish();
    });
}

}  // namespace quorvel::ftp
