// The web sites of the IIS directory, as PostWebSit finds and numbers them:
// it counts the web service's children, looks at sites 1 to that count for
// the first whose server comment matches (letter case ignored), and numbers
// a new site one past the count. Nothing here has one sound fix (which of
// two sites keeps a name, which number a site should move to, what settings
// a site was meant to have): every finding is reported only.
#include <algorithm>
#include <map>
#include <optional>

#include "base/ascii.h"
#include "automation/objects.h"
#include "doctor/checks.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/computer_name.h"
#include "support/strings.h"

namespace quorvel::doctor {
namespace {

using automation::Object;

constexpr std::uint32_t kPropertyNotFound = 0x8000500Du;  // E_ADS_PROPERTY_NOT_FOUND
constexpr std::uint32_t kPathNotFound = 0x80070003u;

std::u16string Number(std::int64_t n) { return Decimal(n); }

bool Is(const StepError& error, std::uint32_t hresult) { return static_cast<std::uint32_t>(error.number) == hresult; }

// A property the object holds, or nullopt when it holds none.
std::optional<automation::Value> Held(const Object& object, const char16_t* name) {
    try {
        return object.Get(name);
    } catch (const StepError& error) {
        if (Is(error, kPropertyNotFound)) return std::nullopt;
        throw;
    }
}

// The site's number, when its name is one as PostWebSit writes them.
std::optional<std::int64_t> SiteNumber(const std::u16string& name) {
    if (!name.empty() && name[0] == u'0') return std::nullopt;
    return DecimalDigits(name);
}

struct Site {
    std::u16string path;
    std::optional<std::int64_t> number;
    std::optional<std::u16string> comment;
};

}  // namespace

void CheckSites(Context& context) {
    const std::u16string computer = GetLocalComputerName();
    if (computer == kUnknownComputerName) {
        context.report.Unchecked(u"IIS://", u"the computer's name is not available");
        return;
    }
    const std::u16string service_path = u"IIS://" + computer + u"/W3SVC";
    std::vector<Object> children;
    try {
        children = automation::GetObject(service_path).Children();
    } catch (const StepError& error) {
        context.report.Unchecked(service_path, u"the web service cannot be read: " + error.description);
        return;
    }
    context.report.Checked(service_path);
    const std::int64_t count = static_cast<std::int64_t>(children.size());
    auto add = [&](const char* kind, const std::u16string& path, std::u16string message) {
        context.report.Add({kind, path, 0, std::move(message), {}, false});
    };

    std::vector<Site> sites;
    for (const Object& child : children) {
        std::u16string path = service_path;
        try {
            if (base::ToUpperAscii(child.Get(u"Class").Text()) != u"IISWEBSERVER") continue;
            const std::u16string name = child.Get(u"Name").Text();
            path += u"/" + name;
            Site& site = sites.emplace_back(Site{path, SiteNumber(name), std::nullopt});
            if (!site.number || *site.number > count)
                add("web.unreachable-site", path,
                    u"PostWebSit looks at sites 1 to " + Number(count) +
                        u" (the count of the service's children) and numbers a new one " + Number(count + 1) +
                        u": it never finds this site" +
                        (site.number && *site.number == count + 1 ? u", and the next ADD would choose its number"
                                                                  : u""));
            std::u16string missing;
            if (const auto comment = Held(child, u"ServerComment")) {
                site.comment = comment->Text();
            } else {
                missing = u"ServerComment";
            }
            if (!Held(child, u"ServerBindings")) missing += missing.empty() ? u"ServerBindings" : u", ServerBindings";
            if (!missing.empty())
                add("web.site-settings", path, u"the site has no " + missing + u": PostWebSit cannot find it by name");

            Object root;
            try {
                root = child.Call(u"GetObject", {u"IIsWebVirtualDir", u"ROOT"}).AsObject();
            } catch (const StepError& error) {
                if (!Is(error, kPathNotFound)) throw;
            }
            if (root.IsNothing()) {
                add("web.root-missing", path, u"the site has no root virtual directory (ROOT): it serves nothing");
                continue;
            }
            const auto folder = Held(root, u"Path");
            if (!folder) {
                add("web.root-missing", path + u"/ROOT", u"the root virtual directory has no Path: it serves nothing");
                continue;
            }
            const std::u16string text = folder->Text();
            const std::optional<std::string> ansi = platform::TryToAnsi(text);
            if (ansi && !platform::FolderExists(*ansi))
                add("web.root-folder-missing", path + u"/ROOT", u"the root's folder " + text + u" is not there");
        } catch (const StepError& error) {
            context.report.Unchecked(path, u"the site cannot be read: " + error.description);
        }
    }

    // Of two sites with one comment PostWebSit finds the lower number.
    std::stable_sort(sites.begin(), sites.end(), [](const Site& a, const Site& b) {
        return a.number.value_or(INT64_MAX) < b.number.value_or(INT64_MAX);
    });
    std::map<std::u16string, const Site*> first_of;
    for (const Site& site : sites) {
        if (!site.comment) continue;
        const auto [seen, fresh] = first_of.emplace(base::ToUpperAscii(*site.comment), &site);
        if (!fresh)
            add("web.duplicate-comment", site.path,
                u"the server comment \"" + *site.comment + u"\" is also " + seen->second->path +
                    u"'s: PostWebSit finds only the first of them");
    }
}

}  // namespace quorvel::doctor
