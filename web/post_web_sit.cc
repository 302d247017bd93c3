// PostWebSit: one action on one IIS web site, found by its server comment.
//
// Sites are numbered by the count of the web service's children plus one.
// Two ADDs at once would count the same children and choose the same
// number, and one of them would fail; so ADD and EDIT hold the method's lock
// (component/frame/intent.h) for the whole call, and concurrent ADDs of different
// names on one machine all succeed. The numbering rule itself is unchanged.
//
// ADD and EDIT each commit twice (the site, then its root; ADD then starts
// the site), so each keeps an intent record from before its first change to
// after its last, and every call first repairs what a call that died left:
// an ADD whose site was committed gets its root and is started, an EDIT
// whose site settings were committed gets its root settings, each with the
// dead call's own values; a call that had not committed its site had changed
// nothing. The record keeps the anonymous user's password only as a digest,
// which is enough to tell whether the site holds the dead EDIT's settings.
//
// The metabase holds Unicode, so no value is refused for the code page: none
// of them crosses into ANSI on its way. A text with an unpaired surrogate is
// the one the metabase cannot keep; ADD and EDIT refuse it with result 1
// before anything is written, rather than leave a site half made.
#include "web/post_web_sit.h"

#include <initializer_list>
#include <optional>
#include <vector>

#include "automation/objects.h"
#include "base/ascii.h"
#include "component/frame/frame.h"
#include "component/frame/intent.h"
#include "platform/utf8.h"
#include "support/computer_name.h"
#include "support/strings.h"

namespace quorvel::web {
namespace {

using automation::GetObject;
using automation::Object;
using automation::Value;
using automation::Variant;

constexpr char16_t kSiteExists[] = u"，错误源：Web站点 ，错误描述：站点已经存在";
constexpr char16_t kNoSuchSite[] = u"，错误源：Web站点 ，错误描述：站点不存在";
constexpr char16_t kUnsafeInput[] = u"，错误源：Web站点 ，错误描述：站点名或设置含有不允许的字符";
constexpr char16_t kRepairCompleted[] = u"，错误源：Web站点 ，错误描述：已完成中断调用对站点的更改";
constexpr char16_t kRepairNothing[] = u"，错误源：Web站点 ，错误描述：中断调用未更改站点";

// What binding a missing site raises (ERROR_PATH_NOT_FOUND as an HRESULT).
constexpr std::int32_t kPathNotFoundHresult = static_cast<std::int32_t>(0x80070003u);

constexpr char16_t kSiteClass[] = u"IISWebServer";
constexpr char16_t kFriendlyName[] = u"应用程序";
constexpr std::int16_t kPooledProcess = 2;

// The parameters that become a site's settings, as ADD's and EDIT's intent
// records keep them (the password only as a digest).
struct Settings {
    std::u16string name;
    std::u16string files_path;
    std::u16string default_doc;
    std::u16string script_maps;
    std::u16string bindings;
    std::u16string access;
    std::u16string log_path;
    std::int32_t links;
    std::int32_t times;
    std::int32_t width;
    std::int32_t cpu;
    std::u16string anonymous_user;
    std::u16string anonymous_password;

    // Each cut at "|"; an empty parameter is an empty list.
    std::vector<std::u16string> BindingList() const { return ListOf(bindings); }
    std::vector<std::u16string> ScriptMapList() const { return ListOf(script_maps); }

private:
    static std::vector<std::u16string> ListOf(const std::u16string& text) {
        if (text.empty()) return {};
        return Split(text, u'|');
    }
};

IntentRecord RecordOf(const std::u16string& action, std::int32_t number, const Settings& s) {
    IntentRecord record;
    record.Set("Action", action).Set("Site", number).Set("WebSiteName", s.name).Set("WebFilesPath", s.files_path);
    record.Set("WebDefaultDoc", s.default_doc).Set("WebScriptMaps", s.script_maps);
    record.Set("WebServerbindings", s.bindings).Set("WebAccess", s.access).Set("WebLogPath", s.log_path);
    record.Set("WebLinks", s.links).Set("WebTimes", s.times).Set("WebWidth", s.width).Set("WebCPU", s.cpu);
    record.Set("IUSRName", s.anonymous_user).Set("IUSRPassDigest", SecretDigest(s.anonymous_password));
    return record;
}

// Without the password, which a record does not hold.
Settings SettingsOf(const IntentRecord& r) {
    const auto number = [&](std::string_view key) { return r.Number(key).value_or(0); };
    return Settings{r.Text("WebSiteName"), r.Text("WebFilesPath"), r.Text("WebDefaultDoc"), r.Text("WebScriptMaps"),
                    r.Text("WebServerbindings"), r.Text("WebAccess"), r.Text("WebLogPath"), number("WebLinks"),
                    number("WebTimes"), number("WebWidth"), number("WebCPU"), r.Text("IUSRName"), {}};
}

struct Search {
    bool found = false;
    std::int32_t number = 1;
    Object site;
};

// Every child of the service counts once; only sites numbered 1 to that
// count are looked at, and the first whose comment matches wins.
Search FindSite(CallFrame& frame, const Object& service, const std::u16string& service_path,
                const std::u16string& name) {
    Search search;
    std::size_t children = 0;
    frame.Step([&] { children = service.CountChildren(); });
    for (size_t i = 0; i < children; ++i) {
        search.site.Release();
        bool bound = false;
        frame.Step([&] {
            search.site = GetObject(service_path + u"/" + Decimal(search.number));
            bound = true;
        });
        bool match = false;
        if (bound) frame.Step([&] { match = base::EqualsIgnoringAsciiCase(search.site.Get(u"ServerComment").Text(), name); });
        if (match) {
            search.found = true;
            return search;
        }
        ++search.number;  // at most the number of children plus one
        search.found = false;
        frame.ClearError();
    }
    return search;
}

bool IsStorable(const Settings& s) {
    // The lists are cut at "|", never inside a pair: the whole text tells.
    for (const std::u16string* text : {&s.name, &s.files_path, &s.default_doc, &s.script_maps, &s.bindings,
                                       &s.access, &s.log_path, &s.anonymous_user, &s.anonymous_password})
        if (!platform::IsWellFormedUtf16(*text)) return false;
    return true;
}

// The site's twelve properties, then SetInfo.
void WriteSiteSettings(CallFrame& frame, const Object& site, const Settings& s) {
    frame.Step([&] { site.Put(u"ServerComment", s.name); });
    frame.Step([&] { site.Put(u"Serverbindings", s.BindingList()); });
    frame.Step([&] { site.Put(u"DefaultDoc", s.default_doc); });
    frame.Step([&] { site.Put(u"LogFileDirectory", s.log_path); });
    frame.Step([&] { site.Put(u"ConnectionTimeout", s.times); });
    frame.Step([&] { site.Put(u"CpuLimitLogEvent", CheckedMultiply(s.cpu, 1000)); });
    frame.Step([&] { site.Put(u"MaxConnections", s.links); });
    frame.Step([&] { site.Put(u"MaxBandwidth", CheckedMultiply(s.width, 1024)); });
    frame.Step([&] { site.Put(u"CpuLimitsEnabled", true); });
    frame.Step([&] { site.Put(u"ScriptMaps", s.ScriptMapList()); });
    frame.Step([&] { site.Put(u"AnonymousUserName", s.anonymous_user); });
    frame.Step([&] { site.Put(u"AnonymousUserPass", s.anonymous_password); });
    frame.Step([&] { site.Call(u"SetInfo"); });
}

// The root virtual directory's ten items, then SetInfo. Access letters are
// capitals, matched with their case.
void WriteRootSettings(CallFrame& frame, const Object& root, const Settings& s) {
    const auto has = [&](char16_t letter) { return s.access.find(letter) != std::u16string::npos; };
    frame.Step([&] { root.Put(u"Path", s.files_path); });
    frame.Step([&] { root.Put(u"EnableDefaultDoc", true); });
    frame.Step([&] { root.Put(u"AccessWrite", has(u'W')); });
    frame.Step([&] { root.Put(u"EnableDirBrowsing", has(u'D')); });
    frame.Step([&] { root.Put(u"AccessRead", has(u'R')); });
    frame.Step([&] { root.Put(u"AccessScript", true); });
    frame.Step([&] { root.Put(u"AccessExecute", false); });
    frame.Step([&] { root.Put(u"AppIsolated", kPooledProcess); });
    frame.Step([&] { root.Call(u"AppCreate2", {kPooledProcess}); });
    frame.Step([&] { root.Put(u"AppFriendlyName", kFriendlyName); });
    frame.Step([&] { root.Call(u"SetInfo"); });
}

// A product that the call skipped (it overflows) is no evidence either way.
std::optional<std::int32_t> Product(std::int32_t value, std::int32_t unit) {
    try {
        return CheckedMultiply(value, unit);
    } catch (const StepError&) {
        return std::nullopt;
    }
}

// Whether the site holds the settings that EDIT's first commit writes: if it
// does, that commit was made (or changed nothing).
bool HoldsSiteSettings(const Object& site, const Settings& s, const std::u16string& password_digest) {
    try {
        const auto equals = [&](const char16_t* property, const Variant& value) {
            const Value held = site.Get(property);
            switch (value.vt()) {
                case VT_I4: return held.Long() == value.Long();
                case VT_BOOL: return held.Bool() == value.Bool();
                case VT_BSTR: return held.Text() == value.Text();
                default: return held.TextList() == value.TextList();
            }
        };
        const auto cpu = Product(s.cpu, 1000);
        const auto width = Product(s.width, 1024);
        return equals(u"ServerComment", s.name) && equals(u"Serverbindings", s.BindingList()) &&
               equals(u"DefaultDoc", s.default_doc) && equals(u"LogFileDirectory", s.log_path) &&
               equals(u"ConnectionTimeout", s.times) && (!cpu || equals(u"CpuLimitLogEvent", *cpu)) &&
               equals(u"MaxConnections", s.links) && (!width || equals(u"MaxBandwidth", *width)) &&
               equals(u"CpuLimitsEnabled", true) && equals(u"ScriptMaps", s.ScriptMapList()) &&
               equals(u"AnonymousUserName", s.anonymous_user) &&
               MatchesDigest(site.Get(u"AnonymousUserPass").Text(), password_digest);
    } catch (const StepError&) {
        return false;
    }
}

// What an ADD or EDIT that died left of its site, put right with its own
// values; nullopt when the site cannot be looked at.
std::optional<std::u16string> RepairSite(CallFrame& frame, const std::u16string& service_path,
                                         const IntentRecord& record) {
    const std::u16string action = record.Text("Action");
    const auto number = record.Number("Site");
    if (!number || (action != u"ADD" && action != u"EDIT")) return kRepairNothing;
    const Settings settings = SettingsOf(record);
    const int failures = frame.failures();
    Object site;
    frame.Step([&] {
        try {
            site = GetObject(service_path + u"/" + Decimal(*number));
        } catch (const StepError& error) {
            if (error.number != kPathNotFoundHresult) throw;
        }
    });
    bool ours = false;
    if (!site.IsNothing())
        frame.Step([&] { ours = base::EqualsIgnoringAsciiCase(site.Get(u"ServerComment").Text(), settings.name); });
    if (frame.failures() != failures) return std::nullopt;
    // The site was never committed, or is another's: nothing of the dead call is there.
    if (!ours) return kRepairNothing;
    if (action == u"EDIT" && !HoldsSiteSettings(site, settings, record.Text("IUSRPassDigest"))) return kRepairNothing;

    DeadCallsSteps(frame, [&] {
        Object root;
        try {
            root = site.Call(u"GetObject", {u"IIsWebVirtualDir", u"ROOT"}).AsObject();
        } catch (const StepError&) {
            if (action == u"ADD")
                frame.Step([&] { root = site.Call(u"Create", {u"IISWebVirtualDir", u"root"}).AsObject(); });
        }
        WriteRootSettings(frame, root, settings);
        if (action == u"ADD") frame.Step([&] { site.Call(u"Start"); });
    });
    return kRepairCompleted;
}

}  // namespace

std::int32_t PostWebSit(std::u16string WebAction, std::u16string WebSiteName, std::u16string WebFilesPath,
                        std::u16string WebDefaultDoc, std::u16string WebScriptMaps,
                        std::u16string WebServerbindings, std::u16string WebAccess, std::u16string WebLogPath,
                        std::int32_t WebLinks, std::int32_t WebTimes, std::int32_t WebWidth, std::int32_t WebCPU,
                        std::u16string IUSRName, std::u16string IUSRPass) {
    CallFrame frame(u"PostWebSit", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        const std::u16string computer = GetLocalComputerName();
        if (computer == kUnknownComputerName) return frame.Detected(kPreconditionFailed, kNoComputerNameText);

        const Settings settings{WebSiteName, WebFilesPath, WebDefaultDoc, WebScriptMaps, WebServerbindings,
                                WebAccess,   WebLogPath,   WebLinks,      WebTimes,      WebWidth,
                                WebCPU,      IUSRName,     IUSRPass};
        const std::u16string action = base::ToUpperAscii(WebAction);
        const std::u16string service_path = u"IIS://" + computer + u"/W3SVC";

        frame.Audit().About(action, WebSiteName);
        MethodIntent intent("PostWebSit", "WebSiteName");
        const bool changes = action == u"ADD" || action == u"EDIT";
        if (changes && !TakeLock(frame, intent)) return frame.Finish();
        if (!RepairLeftover(frame, intent, [&](const IntentRecord& left) {
                return RepairSite(frame, service_path, left);
            }))
            return frame.Finish();
        if (!changes) intent.Unlock();
        if (changes && !IsStorable(settings)) return frame.Detected(kPreconditionFailed, kUnsafeInput);

        Object service;
        frame.Step([&] { service = GetObject(service_path); });
        Search search = FindSite(frame, service, service_path, WebSiteName);
        Object& site = search.site;
        const std::u16string number = Decimal(search.number);

        if (action == u"ADD") {
            if (search.found) return frame.Detected(kAlreadyExists, kSiteExists);
            if (!BeginIntent(frame, intent, RecordOf(action, search.number, settings))) return frame.Finish();
            site.Release();
            bool created = false;
            frame.Step([&] {
                site = service.Call(u"Create", {kSiteClass, search.number}).AsObject();
                created = true;
            });
            if (created) {
                WriteSiteSettings(frame, site, settings);
                site.Release();
                frame.Step([&] { site = GetObject(service_path + u"/" + number); });
                Object root;
                frame.Step([&] { root = site.Call(u"Create", {u"IISWebVirtualDir", u"root"}).AsObject(); });
                WriteRootSettings(frame, root, settings);
                frame.Step([&] { site.Call(u"Start"); });
            }
            EndIntent(frame, intent);
        } else if (action == u"EDIT") {
            if (!search.found) return frame.Detected(kDoesNotExist, kNoSuchSite);
            if (!BeginIntent(frame, intent, RecordOf(action, search.number, settings))) return frame.Finish();
            WriteSiteSettings(frame, site, settings);
            Object root;
            frame.Step([&] { root = site.Call(u"GetObject", {u"IIsWebVirtualDir", u"ROOT"}).AsObject(); });
            WriteRootSettings(frame, root, settings);
            EndIntent(frame, intent);
            frame.ClearError();
        } else if (action == u"DEL") {
            if (!search.found) return frame.Detected(kDoesNotExist, kNoSuchSite);
            frame.Step([&] { service.Call(u"Delete", {kSiteClass, search.number}); });
        } else if (action == u"START" || action == u"STOP") {
            if (!search.found) return frame.Detected(kDoesNotExist, kNoSuchSite);
            frame.Step([&] { site.Call(action == u"START" ? u"Start" : u"Stop"); });
        } else if (action == u"ISSEARCH") {
            if (!search.found) return frame.Detected(kDoesNotExist, kNoSuchSite);
        }

        site.Release();
        service.Release();
        return frame.Finish();
    });
}

}  // namespace quorvel::web
