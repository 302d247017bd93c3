// The mail server's files as the mailbox methods keep them: USERLIST.DAT,
// one record of 235 characters per line (domain and mailbox, the first 75,
// identify it); Domains.dat, one section per domain with the six keys
// PostEmailDomain writes; and the webmail settings' account-creation
// switch, which a password lookup turns on only for its own request.
//
// What --repair puts right, under the locks PostEmail holds (the webmail
// settings' first, then the user list's) and with the list replaced
// atomically and its semaphore touched, as PostEmail does: an empty line
// and a cut-off last record (the tail of a write that died) are removed, a
// last record whole but without its line end is ended, a record that
// repeats an earlier one byte for byte is removed, and what an interrupted
// lookup left (the switch on, the temporary account's records) is put
// right as the next mailbox call would. Records of the wrong width, two
// different records of one mailbox and domains missing keys are reported:
// their right content is not known.
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

#include "base/ascii.h"
#include "automation/step_error.h"
#include "doctor/checks.h"
#include "doctor/ini_file.h"
#include "mail/files/paths.h"
#include "mail/files/user_list.h"
#include "mail/files/webmail_account.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/profile_io.h"
#include "platform/text.h"
#include "support/find_file.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

using mail::HeldUserList;
using mail::UserList;

constexpr size_t kKeyWidth = mail::kDomainWidth + mail::kMailBoxWidth;

std::u16string Number(std::int64_t n) { return Decimal(n); }

// The characters of a line of the code page, and the bytes of its first `chars`.
size_t CharCount(std::string_view line, const profile::LeadBytes& leads) {
    size_t n = 0;
    for (size_t i = 0; i < line.size(); ++n) i += leads.lead(line[i]) && i + 1 < line.size() ? 2 : 1;
    return n;
}
size_t BytesOfChars(std::string_view line, size_t chars, const profile::LeadBytes& leads) {
    size_t i = 0;
    for (; chars > 0 && i < line.size(); --chars) i += leads.lead(line[i]) && i + 1 < line.size() ? 2 : 1;
    return i;
}

std::u16string Record(size_t n) { return u"record " + Number(static_cast<std::int64_t>(n + 1)); }

bool Blank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

// The record's domain and mailbox, for a message; a line too short to hold
// them, as it is.
std::u16string Identity(std::string_view line) {
    const std::u16string text = platform::FromAnsi(line);
    if (text.size() < kKeyWidth) return u"\"" + text + u"\"";
    const std::u16string domain(TrimSpaces(std::u16string_view(text).substr(0, mail::kDomainWidth)));
    const std::u16string box(TrimSpaces(std::u16string_view(text).substr(std::min(text.size(), mail::kDomainWidth),
                                                                         mail::kMailBoxWidth)));
    return box + u"@" + domain;
}

struct ListPlan {
    std::set<size_t> removed;   // lines
    std::set<size_t> recorded;  // of them, those that take an account's record away (for the trail)
    bool rewrite = false;       // also when nothing is removed (a line end to add)
};

std::vector<Finding> ExamineList(const std::u16string& path, const UserList& list, ListPlan& plan) {
    std::vector<Finding> findings;
    plan = ListPlan{};
    auto add = [&](const char* kind, size_t n, std::u16string message, std::u16string repair) {
        findings.push_back({kind, path, static_cast<std::int64_t>(n + 1), std::move(message), std::move(repair), false});
    };
    auto remove = [&](size_t n) {
        plan.removed.insert(n);
        plan.rewrite = true;
    };
    const profile::LeadBytes& leads = platform::profile_io::AnsiLeadBytes();
    std::unordered_map<std::string_view, size_t> first_of;  // domain and mailbox -> first record
    first_of.reserve(list.size());
    for (size_t n = 0; n < list.size(); ++n) {
        const std::string_view line = list.line(n);
        const size_t chars = CharCount(line, leads);
        const bool unended = n + 1 == list.size() && !list.ended();
        if (Blank(line)) {
            add("mail.record-width", n, Record(n) + u" is empty", u"remove the empty line");
            remove(n);
            continue;
        }
        if (unended && chars < mail::kRecordLength) {
            add("mail.partial-record", n,
                Record(n) + u" (" + Identity(line) + u") ends after " + Number(static_cast<std::int64_t>(chars)) +
                    u" of its 235 characters, without a line end: it was cut off while being written",
                u"remove the cut-off record");
            remove(n);
            if (chars >= kKeyWidth) plan.recorded.insert(n);
            continue;
        }
        if (unended && chars == mail::kRecordLength) {
            add("mail.partial-record", n, Record(n) + u" (" + Identity(line) + u") is the last and has no line end",
                u"end it with CR LF");
            plan.rewrite = true;
        }
        if (chars != mail::kRecordLength)
            add("mail.record-width", n,
                Record(n) + u" (" + Identity(line) + u") has " + Number(static_cast<std::int64_t>(chars)) +
                    u" characters, not 235: its fields are out of place",
                {});
        if (chars < kKeyWidth) continue;
        const std::string_view key = line.substr(0, BytesOfChars(line, kKeyWidth, leads));
        const auto [seen, fresh] = first_of.emplace(key, n);
        if (fresh) continue;
        const bool same = list.line(seen->second) == line;
        add("mail.duplicate-key", n,
            Record(n) + u" is " + Identity(line) + u" again (" + Record(seen->second) +
                u"): the mail server and PostEmail may each take another one" +
                (same ? u"" : u", and the two differ"),
            same ? u"remove this copy" : u"");
        if (same) remove(n);
    }
    for (const size_t n : mail::TemporaryRecords(list)) {
        add("mail.temporary-record", n,
            u"record " + Number(static_cast<std::int64_t>(n + 1)) + u" is the temporary account \"" +
                std::u16string(mail::kTemporaryAccount) + u"\" that an interrupted password lookup left",
            u"remove it, as the next mailbox call would");
        remove(n);
        plan.recorded.insert(n);
    }
    return findings;
}

// The account-creation switch, when it is left on.
std::optional<Finding> ExamineCreation(const std::u16string& settings) {
    if (base::ToUpperAscii(mail::CreationSetting(settings)) != u"YES") return std::nullopt;
    std::int64_t line = 0;
    if (const auto bytes = platform::ReadFileBytes(platform::ToAnsi(settings))) {
        const IniFile ini = IniFile::Parse(*bytes);
        if (const IniSection* section = ini.Find(platform::ToAnsi(mail::kSettingsSection)))
            if (const IniKey* key = section->Find(platform::ToAnsi(mail::kCreationKey))) line = key->line;
    }
    return Finding{"mail.creation-left-on", settings, line,
                   u"NewAccountCreation is Yes: anyone may create accounts through the webmail server, as only a "
                   u"password lookup under way should allow",
                   u"switch it off, as the next mailbox call would", false};
}

struct Examined {
    std::vector<Finding> findings;
    ListPlan plan;
    bool creation_on = false;
    bool lookup_signs = false;  // what a lookup under way also shows
};

Examined Examine(const std::u16string& list_path, const UserList& list, const std::u16string* settings) {
    Examined e;
    e.findings = ExamineList(list_path, list, e.plan);
    if (settings != nullptr) {
        if (auto creation = ExamineCreation(*settings)) {
            e.findings.push_back(std::move(*creation));
            e.creation_on = true;
        }
    }
    e.lookup_signs = e.creation_on || !mail::TemporaryRecords(list).empty();
    return e;
}

void Report(Context& context, std::vector<Finding>& findings) {
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.object, a.line) < std::tie(b.object, b.line);
    });
    for (Finding& f : findings) context.report.Add(std::move(f));
}

// A profile file held to the audit trail.
void CrossCheckFile(const std::u16string& path, Context& context) {
    if (context.trail == nullptr || context.trail->Of(path) == nullptr) return;
    if (const auto bytes = platform::ReadFileBytes(platform::ToAnsi(path)))
        CrossCheckProfile(path, *bytes, IniFile::Parse(*bytes), context);
}

void CheckUserList(const std::u16string& mail_dir, Context& context) {
    const std::u16string list_path = mail::UserListPath(mail_dir);
    const std::string list_file = platform::ToAnsi(list_path);
    if (!mail::HasUserList(mail_dir)) {
        context.report.Unchecked(list_path, u"there is no such file");
        return;
    }
    const std::u16string settings_path = mail::WebmailSettingsPath(mail_dir);
    const bool has_settings = mail::HasWebmailSettings(mail_dir);
    const std::u16string* settings = has_settings ? &settings_path : nullptr;
    if (has_settings) context.report.Checked(settings_path);

    std::optional<std::string> bytes = platform::ReadFileBytes(list_file);
    if (!bytes) {
        context.report.Unchecked(list_path, u"the file cannot be read");
        return;
    }
    context.report.Checked(list_path);
    std::optional<UserList> list(std::in_place, std::move(*bytes));
    Examined examined = Examine(list_path, *list, settings);
    const bool repairable = std::any_of(examined.findings.begin(), examined.findings.end(),
                                        [](const Finding& f) { return !f.repair.empty(); });
    if (!context.repair || !repairable) {
        // A password lookup under way shows the same for a moment: what it
        // leaves is only what is still there once its lock is free.
        if (examined.lookup_signs && has_settings) {
            const platform::FileLock lookups(platform::ToAnsi(settings_path));
            bytes = platform::ReadFileBytes(list_file);
            if (lookups.held() && bytes) {
                list.emplace(std::move(*bytes));
                examined = Examine(list_path, *list, settings);
            }
        }
        Report(context, examined.findings);
        CrossCheckUserList(list_path, *list, context);
        if (has_settings) CrossCheckFile(settings_path, context);
        return;
    }

    std::optional<platform::FileLock> lookups;
    if (has_settings) lookups.emplace(platform::ToAnsi(settings_path));
    if (lookups && !lookups->held()) {
        context.report.Unchecked(settings_path, u"not repaired: the webmail settings' lock cannot be had");
        Report(context, examined.findings);
        return;
    }
    try {
        const HeldUserList held(list_file);
        examined = Examine(list_path, held.list(), settings);
        std::vector<RepairChange> changes;
        if (examined.plan.rewrite) {
            const std::vector<size_t> removed(examined.plan.removed.begin(), examined.plan.removed.end());
            held.Replace(held.list().Without(removed));
            if (!platform::CreateEmptyFile(platform::ToAnsi(mail::SemaphorePath(mail_dir)))) Raise(kPathFileAccess);
            for (const size_t n : examined.plan.recorded)
                changes.push_back({list_path, u"record", mail::HidePassword(held.list().Text(n)), std::nullopt});
        }
        bool switched = true;
        if (examined.creation_on) {
            const std::u16string was = mail::CreationSetting(settings_path);
            switched = mail::WriteCreation(false, settings_path);
            if (switched)
                changes.push_back({settings_path, ItemName(mail::kSettingsSection, mail::kCreationKey), was, u"No"});
        }
        if (!switched) context.report.Unchecked(settings_path, u"not repaired: the settings cannot be written");
        for (Finding& f : examined.findings)
            f.repaired = !f.repair.empty() && (f.kind != std::string("mail.creation-left-on") || switched);
        RecordRepair(context, mail_dir, changes);
    } catch (const StepError&) {
        context.report.Unchecked(list_path, u"not repaired: the list's lock cannot be had, or the list read or written");
    }
    Report(context, examined.findings);
    CrossCheckUserList(list_path, *list, context);
    if (has_settings) CrossCheckFile(settings_path, context);
}

// The keys PostEmailDomain writes into each domain's section.
constexpr const char* kDomainKeys[] = {"IP", "Bind", "MaxInactive", "MaxMessageAge", "MaxDeletedIMAPMessageAge",
                                       "RecurseIMAP"};

void CheckDomains(const std::u16string& mail_dir, Context& context) {
    const std::u16string path = mail_dir + u"\\app\\Domains.dat";
    if (!FindsFile(path)) {
        context.report.Unchecked(path, u"there is no such file");
        return;
    }
    const std::optional<std::string> bytes = platform::ReadFileBytes(platform::ToAnsi(path));
    if (!bytes) {
        context.report.Unchecked(path, u"the file cannot be read");
        return;
    }
    context.report.Checked(path);
    const IniFile ini = IniFile::Parse(*bytes);
    for (const IniSection& section : ini.sections()) {
        std::u16string missing;
        for (const char* name : kDomainKeys) {
            const IniKey* key = section.Find(name);
            if (key != nullptr && key->has_value && !key->value.empty()) continue;
            if (!missing.empty()) missing += u", ";
            missing += platform::FromAnsi(name);
        }
        if (missing.empty()) continue;
        const bool no_ip = missing.starts_with(u"IP");
        context.report.Add({"mail.domain-keys", path, section.line,
                            ItemName(platform::FromAnsi(section.name), u" lacks ") + missing +
                                (no_ip ? u": without an IP, PostEmailDomain takes the domain for missing"
                                       : u": PostEmailDomain writes all six"),
                            {}, false});
    }
    CrossCheckProfile(path, *bytes, ini, context);
}

}  // namespace

void CheckMail(const std::u16string& mail_dir, Context& context) {
    CheckUserList(mail_dir, context);
    CheckDomains(mail_dir, context);
}

}  // namespace quorvel::doctor
