// The FTP server's ServUDaemon.ini, as PostFtpSit reads and writes it: in
// [DOMAINS] each DomainK names a domain whose number is the digit two places
// before the end of its value; [DomainN] lists the accounts as User1,
// User2, ... ("NAME|1|0"), read until the first empty one, each read with a
// buffer of 144 bytes; [USER=NAME|N] holds an account's settings.
//
// What --repair puts right, each in one transaction under the file's lock
// (the one PostFtpSit holds), followed by the reload request PostFtpSit
// makes: a gap in a list is closed by moving the later entries up, as DEL
// does; an entry whose section is missing is removed (without its section
// the account has neither password nor home folder); a second entry that
// repeats the first byte for byte is removed; a section no entry points to
// is removed (nothing reads it, and an ADD of that name would otherwise
// take over whatever keys it holds). Two entries of one name that differ,
// an entry too long to be read back and an entry that names no account are
// only reported: which account is meant is not for the doctor to guess.
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "doctor/checks.h"
#include "doctor/ini_file.h"
#include "platform/files.h"
#include "platform/profile_io.h"
#include "platform/text.h"
#include "profile/profile.h"
#include "support/find_file.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

constexpr size_t kReadBytes = 143;  // what a buffer of 144 holds
constexpr int kDomainKeys = 99;
constexpr size_t kSuffix = 4;       // "|1|0"

std::u16string Text(std::string_view bytes) { return platform::FromAnsi(bytes); }
std::u16string Number(std::int64_t n) { return Decimal(n); }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// N of a key "UserN" as the component names them (no leading zero), else 0.
int SlotNumber(const std::string& key) {
    const auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
    if (key.size() < 5 || lower(key[0]) != 'u' || lower(key[1]) != 's' || lower(key[2]) != 'e' ||
        lower(key[3]) != 'r' || key[4] == '0')
        return 0;
    int n = 0;
    for (size_t i = 4; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9' || n > 100000) return 0;
        n = n * 10 + (key[i] - '0');
    }
    return n;
}

// The domain's number as PostFtpSit takes it: from the value as its buffer
// reads it, the digit two places before the end; nullopt when there is none.
std::optional<int> DomainNumber(const std::string& value) {
    const std::u16string text = Text(value.substr(0, kReadBytes));
    const std::u16string_view trimmed = TrimSpaces(text);
    const std::ptrdiff_t position = static_cast<std::ptrdiff_t>(trimmed.size()) - 2;
    if (position < 1) return std::nullopt;
    const char16_t digit = trimmed[static_cast<size_t>(position - 1)];
    if (!IsDigit(digit)) return std::nullopt;
    return digit - u'0';
}

// What a repair writes: lists to be rewritten and sections to be removed.
struct Plan {
    struct List {
        std::string section;
        std::vector<std::string> entries;                // User1, User2, ... as they will be
        std::vector<std::string> keys;                   // every UserN key the list has now
        std::vector<std::optional<std::string>> values;  // User1, User2, ... as they are
    };
    std::vector<List> lists;
    std::vector<std::string> removed_sections;
    bool empty() const { return lists.empty() && removed_sections.empty(); }
};

class FtpFile {
public:
    FtpFile(const std::u16string& path, const IniFile& ini) : path_(path), ini_(ini) {}

    // The findings, and what a repair of them writes.
    Plan Examine(std::vector<Finding>& findings) {
        findings_ = &findings;
        Plan plan;
        const IniSection* domains = ini_.Find("DOMAINS");
        for (int k = 1; domains != nullptr && k <= kDomainKeys; ++k) {
            const IniKey* key = domains->Find("Domain" + std::to_string(k));
            if (key == nullptr || !key->has_value || IsBlank(Text(key->value.substr(0, kReadBytes)))) continue;
            const std::optional<int> number = DomainNumber(key->value);
            if (!number) {
                Add("ftp.unparsable-entry", key->line,
                    u"Domain" + Number(k) + u" has no domain number (a digit two places before the end of \"" +
                        Text(key->value) + u"\")" +
                        (numbers_.empty() ? u": every PostFtpSit call fails with 4" : u""),
                    {});
                if (numbers_.empty()) numbers_.push_back(-1);  // the component's domain is broken
                continue;
            }
            if (std::find(numbers_.begin(), numbers_.end(), *number) != numbers_.end()) continue;
            numbers_.push_back(*number);
            ExamineList(*number, plan);
        }
        if (numbers_.empty())
            Add("ftp.unparsable-entry", domains != nullptr ? domains->line : 0,
                u"no Domain key of [DOMAINS] has a value: every PostFtpSit call fails with 4", {});
        ExamineSections(plan);
        return plan;
    }

private:
    // "NAME|N|N": the suffix is four characters, so four ASCII bytes that
    // start where a character of the code page starts.
    bool HasSuffix(const std::string& entry) const {
        const size_t size = entry.size();
        if (size <= kSuffix || entry[size - 4] != '|' || !IsDigit(entry[size - 3]) || entry[size - 2] != '|' ||
            !IsDigit(entry[size - 1]))
            return false;
        size_t i = 0;
        while (i < size - kSuffix) i += leads_.lead(entry[i]) ? 2 : 1;
        return i == size - kSuffix;
    }

    void Add(const char* kind, std::uint32_t line, std::u16string message, std::u16string repair) {
        findings_->push_back({kind, path_, line, std::move(message), std::move(repair), false});
    }

    void ExamineList(int number, Plan& plan) {
        const std::string list_name = "Domain" + std::to_string(number);
        const std::u16string list = u"[" + Text(list_name) + u"]";
        const IniSection* section = ini_.Find(list_name);
        std::set<std::string>& names = accounts_[number];
        if (section == nullptr) {
            unlisted_.insert(number);
            return;
        }

        std::map<int, const IniKey*> slots;
        Plan::List rewrite{list_name, {}, {}, {}};
        for (const IniKey& key : section->keys) {
            if (const int n = SlotNumber(key.name); n > 0) {
                slots.emplace(n, &key);
                rewrite.keys.push_back(key.name);
            }
        }
        auto filled = [&](int n) {
            const auto it = slots.find(n);
            return it != slots.end() && it->second->has_value && !it->second->value.empty();
        };
        int last = 0;
        for (const auto& [n, key] : slots)
            if (filled(n)) last = n;
        for (int n = 1; n <= last; ++n)
            rewrite.values.push_back(filled(n) ? std::optional<std::string>(slots.at(n)->value) : std::nullopt);

        bool gaps = false, removals = false;
        std::map<std::string, const IniKey*> first_of;  // folded name -> its first entry
        for (int n = 1; n <= last; ++n) {
            if (!filled(n)) {
                int end = n;
                while (!filled(end + 1)) ++end;
                int after = 0;
                for (const auto& [m, key] : slots)
                    if (m > end && filled(m)) ++after;
                const std::u16string span = end == n ? u"User" + Number(n) + u" is"
                                                     : u"User" + Number(n) + u" to User" + Number(end) + u" are";
                const IniKey* at = slots.count(n) != 0 ? slots.at(n) : slots.at(end + 1);
                Add("ftp.list-gap", at->line,
                    list + u" " + span + u" missing or empty: PostFtpSit stops reading the list there and never finds the " +
                        Number(after) + u" account" + (after == 1 ? u"" : u"s") + u" after it",
                    u"move the later entries up, closing the gap, as DEL does");
                gaps = true;
                n = end;
                continue;
            }
            const IniKey& key = *slots.at(n);
            const auto where = [&] { return list + u" User" + Number(n) + u"=" + Text(key.value); };
            if (key.value.size() > kReadBytes)
                Add("ftp.entry-too-long", key.line,
                    where() + u" takes " + Number(static_cast<std::int64_t>(key.value.size())) +
                        u" bytes: PostFtpSit reads 143 of an entry and can never find this account",
                    {});
            if (!HasSuffix(key.value)) {
                Add("ftp.unparsable-entry", key.line, where() + u" is not NAME|N|N: it names no account", {});
                rewrite.entries.push_back(key.value);
                continue;
            }
            const std::string name = key.value.substr(0, key.value.size() - kSuffix);
            const std::string folded = fold_(name);
            if (const auto seen = first_of.find(folded); seen != first_of.end()) {
                const bool same = seen->second->value == key.value;
                Add("ftp.duplicate-name", key.line,
                    where() + u" names the account of an earlier entry (" + Text(seen->second->value) +
                        u", line " + Number(seen->second->line) + u"): PostFtpSit finds only the first" +
                        (same ? u"" : u", and the two differ"),
                    same ? u"remove this second entry, closing the list" : u"");
                if (same) {
                    removals = true;
                    continue;
                }
                rewrite.entries.push_back(key.value);
                continue;
            }
            first_of.emplace(folded, &key);
            names.insert(folded);
            if (ini_.Find("USER=" + name + "|" + std::to_string(number)) == nullptr) {
                Add("ftp.missing-section", key.line,
                    where() + u" has no section [USER=" + Text(name) + u"|" + Number(number) +
                        u"]: the account has no password, home folder or rights",
                    u"remove the entry, closing the list");
                removals = true;
                continue;
            }
            rewrite.entries.push_back(key.value);
        }
        if (names.empty()) unlisted_.insert(number);
        if (gaps || removals) plan.lists.push_back(std::move(rewrite));
    }

    // Sections [USER=NAME|N] that no entry of domain N's list points to.
    void ExamineSections(Plan& plan) {
        if (std::find(numbers_.begin(), numbers_.end(), -1) != numbers_.end()) return;  // no list to hold them to
        for (const IniSection& section : ini_.sections()) {
            if (section.name.size() < 7 || fold_(section.name.substr(0, 5)) != "user=") continue;
            const size_t bar = section.name.rfind('|');
            if (bar == std::string::npos || bar < 5 || bar + 2 != section.name.size() ||
                section.name.back() < '0' || section.name.back() > '9')
                continue;
            const int number = section.name.back() - '0';
            const std::string folded = fold_(section.name.substr(5, bar - 5));
            const auto domain = accounts_.find(number);
            if (domain != accounts_.end() && domain->second.count(folded) != 0) continue;
            // Without a list at all, it is the list that may be lost: the
            // sections are what is left of the accounts.
            const bool listless = unlisted_.count(number) != 0;
            const std::u16string why =
                domain == accounts_.end() ? u"no domain is numbered " + Number(number)
                : listless                ? u"[Domain" + Number(number) + u"] lists no account at all"
                                          : u"no entry of [Domain" + Number(number) + u"] names it";
            Add("ftp.orphan-section", section.line,
                u"[" + Text(section.name) + u"]: " + why +
                    u"; nothing reads it, and an ADD of that name would take over its keys",
                listless ? u"" : u"remove the section");
            if (!listless) plan.removed_sections.push_back(section.name);
        }
    }

    const std::u16string& path_;
    const IniFile& ini_;
    const profile::LeadBytes& leads_ = platform::profile_io::AnsiLeadBytes();
    const Folder fold_;
    std::vector<Finding>* findings_ = nullptr;
    std::vector<int> numbers_;                        // the domains' numbers, -1 for one without
    std::map<int, std::set<std::string>> accounts_;  // domain -> folded account names of its list
    std::set<int> unlisted_;                          // domains whose list is missing or names nobody
};

std::vector<Finding> Examine(const std::u16string& path, const IniFile& ini, Plan& plan) {
    std::vector<Finding> findings;
    plan = FtpFile(path, ini).Examine(findings);
    return findings;
}

// The plan written in the transaction; false when a write is refused.
bool Apply(const Plan& plan, const std::string& file) {
    bool ok = true;
    for (const Plan::List& list : plan.lists) {
        // The entries up to the first that changes keep their lines; from
        // there on the keys are written again in order.
        size_t same = 0;
        while (same < list.entries.size() && same < list.values.size() && list.values[same] &&
               *list.values[same] == list.entries[same])
            ++same;
        for (const std::string& key : list.keys)
            if (static_cast<size_t>(SlotNumber(key)) > same)
                ok = profile::WritePrivateProfileString(list.section, key, std::nullopt, file) && ok;
        for (size_t i = same; i < list.entries.size(); ++i)
            ok = profile::WritePrivateProfileString(list.section, "User" + std::to_string(i + 1), list.entries[i], file) &&
                 ok;
    }
    for (const std::string& section : plan.removed_sections)
        ok = profile::WritePrivateProfileSection(section, std::nullopt, file) && ok;
    // As after every change PostFtpSit makes: the server reads the file again.
    return profile::WritePrivateProfileString("GLOBAL", "ReloadSettings", "True", file) && ok;
}

}  // namespace

void CheckFtp(const std::u16string& cfile, Context& context) {
    const std::u16string path = cfile + u"\\ServUDaemon.ini";
    const std::string file = platform::ToAnsi(path);
    if (!FindsFile(path)) {
        context.report.Unchecked(path, u"there is no such file");
        return;
    }
    const std::optional<std::string> bytes = platform::ReadFileBytes(file);
    if (!bytes) {
        context.report.Unchecked(path, u"the file cannot be read");
        return;
    }
    context.report.Checked(path);
    Plan plan;
    const IniFile read = IniFile::Parse(*bytes);
    std::vector<Finding> findings = Examine(path, read, plan);
    if (context.repair && !plan.empty()) {
        // Again under the lock, on the file as it is now.
        profile::ProfileTransaction transaction(file);
        const std::optional<std::string> now = platform::ReadFileBytes(file);
        if (!transaction.locked() || !now) {
            context.report.Unchecked(path, u"not repaired: the file's lock cannot be had or the file read");
        } else {
            const IniFile before = IniFile::Parse(*now);
            findings = Examine(path, before, plan);
            if (Apply(plan, file) && transaction.Commit()) {
                for (Finding& f : findings) f.repaired = !f.repair.empty();
                if (const auto after = platform::ReadFileBytes(file))
                    RecordRepair(context, path, ProfileChanges(path, before, IniFile::Parse(*after)));
            } else {
                context.report.Unchecked(path, u"not repaired: the file cannot be written");
            }
        }
    }
    std::stable_sort(findings.begin(), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    for (Finding& f : findings) context.report.Add(std::move(f));
    CrossCheckProfile(path, *bytes, read, context);
}

}  // namespace quorvel::doctor
