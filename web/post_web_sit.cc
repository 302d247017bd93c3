// PostWebSit: one action on one IIS web site, found by its server comment.
//
// Sites are numbered by the count of the web service's children plus one.
// Two ADDs at once would count the same children and choose the same
// number, and one of them would fail; so an ADD holds a lock of the
// component's own from its search until its site is committed, and
// concurrent ADDs of different names on one machine all succeed. The
// numbering rule itself is unchanged.
//
// The metabase holds Unicode, so no value is refused for the code page: none
// of them crosses into ANSI on its way. A text with an unpaired surrogate is
// the one the metabase cannot keep; ADD and EDIT refuse it with result 1
// before anything is written, rather than leave a site half made.
#include "web/post_web_sit.h"

#include <initializer_list>
#include <optional>
#include <vector>

#include "component/frame.h"
#include "platform/files.h"
#include "platform/file_lock.h"
#include "platform/objects.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "support/computer_name.h"
#include "support/strings.h"

namespace quorvel::web {
namespace {

using platform::GetObject;
using platform::Object;

constexpr char16_t kSiteExists[] = u"，错误源：Web站点 ，错误描述：站点已经存在";
constexpr char16_t kNoSuchSite[] = u"，错误源：Web站点 ，错误描述：站点不存在";
constexpr char16_t kUnsafeInput[] = u"，错误源：Web站点 ，错误描述：站点名或设置含有不允许的字符";

constexpr char16_t kSiteClass[] = u"IISWebServer";
constexpr char16_t kFriendlyName[] = u"应用程序";
constexpr std::int16_t kPooledProcess = 2;

struct Settings {
    std::u16string name;
    std::u16string files_path;
    std::u16string default_doc;
    std::vector<std::u16string> bindings;
    std::vector<std::u16string> script_maps;
    std::u16string access;
    std::u16string log_path;
    std::int32_t links;
    std::int32_t times;
    std::int32_t width;
    std::int32_t cpu;
    std::u16string anonymous_user;
    std::u16string anonymous_password;
};

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
    const std::u16string wanted = UpperAscii(name);
    for (size_t i = 0; i < children; ++i) {
        search.site.Release();
        bool bound = false;
        frame.Step([&] {
            search.site = GetObject(service_path + u"/" + Decimal(search.number));
            bound = true;
        });
        bool match = false;
        if (bound) frame.Step([&] { match = UpperAscii(search.site.Get(u"ServerComment").Text()) == wanted; });
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
    for (const std::u16string* text : {&s.name, &s.files_path, &s.default_doc, &s.access, &s.log_path,
                                       &s.anonymous_user, &s.anonymous_password})
        if (!platform::IsWellFormedUtf16(*text)) return false;
    for (const auto* list : {&s.bindings, &s.script_maps})
        for (const std::u16string& text : *list)
            if (!platform::IsWellFormedUtf16(text)) return false;
    return true;
}

// The site's twelve properties, then SetInfo.
void WriteSiteSettings(CallFrame& frame, const Object& site, const Settings& s) {
    frame.Step([&] { site.Put(u"ServerComment", s.name); });
    frame.Step([&] { site.Put(u"Serverbindings", s.bindings); });
    frame.Step([&] { site.Put(u"DefaultDoc", s.default_doc); });
    frame.Step([&] { site.Put(u"LogFileDirectory", s.log_path); });
    frame.Step([&] { site.Put(u"ConnectionTimeout", s.times); });
    frame.Step([&] { site.Put(u"CpuLimitLogEvent", CheckedMultiply(s.cpu, 1000)); });
    frame.Step([&] { site.Put(u"MaxConnections", s.links); });
    frame.Step([&] { site.Put(u"MaxBandwidth", CheckedMultiply(s.width, 1024)); });
    frame.Step([&] { site.Put(u"CpuLimitsEnabled", true); });
    frame.Step([&] { site.Put(u"ScriptMaps", s.script_maps); });
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

// The lock that keeps this component's site numbering in line on the
// machine: one per installed component, beside its error log, shared across
// threads and processes.
std::string NumberingLockPath() { return platform::ModuleFolder() + "\\.PostWebSit.lock"; }

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

        Settings settings{WebSiteName, WebFilesPath, WebDefaultDoc, {}, {}, WebAccess, WebLogPath,
                          WebLinks,    WebTimes,     WebWidth,      WebCPU, IUSRName, IUSRPass};
        if (!WebServerbindings.empty()) settings.bindings = Split(WebServerbindings, u'|');
        if (!WebScriptMaps.empty()) settings.script_maps = Split(WebScriptMaps, u'|');

        const std::u16string action = UpperAscii(WebAction);
        if ((action == u"ADD" || action == u"EDIT") && !IsStorable(settings))
            return frame.Detected(kPreconditionFailed, kUnsafeInput);
        std::optional<platform::FileLock> numbering;
        if (action == u"ADD") numbering.emplace(NumberingLockPath());

        const std::u16string service_path = u"IIS://" + computer + u"/W3SVC";
        Object service;
        frame.Step([&] { service = GetObject(service_path); });
        Search search = FindSite(frame, service, service_path, WebSiteName);
        Object& site = search.site;
        const std::u16string number = Decimal(search.number);

        if (action == u"ADD") {
            if (search.found) return frame.Detected(kAlreadyExists, kSiteExists);
            site.Release();
            bool created = false;
            frame.Step([&] {
                site = service.Call(u"Create", {kSiteClass, search.number}).AsObject();
                created = true;
            });
            if (created) {
                WriteSiteSettings(frame, site, settings);
                numbering.reset();  // the number is taken now
                site.Release();
                frame.Step([&] { site = GetObject(service_path + u"/" + number); });
                Object root;
                frame.Step([&] { root = site.Call(u"Create", {u"IISWebVirtualDir", u"root"}).AsObject(); });
                WriteRootSettings(frame, root, settings);
                frame.Step([&] { site.Call(u"Start"); });
            }
        } else if (action == u"EDIT") {
            if (!search.found) return frame.Detected(kDoesNotExist, kNoSuchSite);
            WriteSiteSettings(frame, site, settings);
            Object root;
            frame.Step([&] { root = site.Call(u"GetObject", {u"IIsWebVirtualDir", u"ROOT"}).AsObject(); });
            WriteRootSettings(frame, root, settings);
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
