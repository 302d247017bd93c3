// Activation on POSIX, the way ole32 does it on Windows, through the
// machine's registry: ProgID (or a moniker's prefix) -> CLSID ->
// InprocServer32 -> the library, loaded once and kept for the life of the
// process (COM keeps in-process servers loaded too) -> DllGetClassObject.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "automation/objects.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/posix/runtime/registry_store.h"
#include "platform/posix/runtime/shared_library.h"
#include "platform/system.h"
#include "platform/utf8.h"

namespace quorvel::automation {
namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

[[noreturn]] void Fail(StepError error, std::string detail) {
    error.detail = std::move(detail);
    throw error;
}

std::string Hex(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

std::string FixHint() {
    return "run `quorvel --machine " + posix::MachineFolder().string() + " regsvr LIBRARY` to register it";
}

struct Loaded {
    std::unique_ptr<posix::SharedLibrary> library;
    GetClassObjectFn entry = nullptr;
};

// Loaded libraries by path; never unloaded, so that no object outlives its code.
template <typename MakeFailure>
GetClassObjectFn EntryOf(const std::string& path, MakeFailure&& make_failure) {
    static std::mutex lock;
    static auto* loaded = new std::map<std::string, Loaded>();
    std::lock_guard<std::mutex> guard(lock);
    auto found = loaded->find(path);
    if (found != loaded->end() && found->second.entry != nullptr) return found->second.entry;
    if (found == loaded->end()) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            Fail(make_failure(), "the registered library " + path + " does not exist; rebuild it, or " + FixHint());
        }
        auto library = std::make_unique<posix::SharedLibrary>();
        std::string error;
        if (!library->Open(path, error)) Fail(make_failure(), "cannot load the registered library " + path + ": " + error);
        found = loaded->emplace(path, Loaded{std::move(library), nullptr}).first;
    }
    auto* entry = reinterpret_cast<GetClassObjectFn>(found->second.library->Symbol("DllGetClassObject"));
    if (entry == nullptr) Fail(make_failure(), path + " exports no DllGetClassObject; it is not a COM server library");
    found->second.entry = entry;
    return entry;
}

struct Registered {
    CLSID clsid{};
    std::string clsid_text;
    std::string library;
    // The provider's display-name parser, asked for at the first bind of a
    // call and kept with the registration for the rest of the call: a call
    // binds thousands of objects of one class, and a provider asked anew at
    // the next call looks again at what it keeps.
    mutable std::mutex parser_lock;
    mutable ComPtr<IParseDisplayName> parser;
    mutable std::uint64_t parser_call = 0;
};

// The class registered under `name` (a ProgID); null with `why` when none is.
std::shared_ptr<const Registered> ReadRegistration(const std::string& name, std::string& why) {
    const std::string machine = posix::MachineFolder().string();
    const std::optional<std::string> clsid_text = posix::registry::GetValue(name + "\\CLSID", "");
    if (!clsid_text) {
        why = name + " is not registered on machine " + machine + "; " + FixHint();
        return nullptr;
    }
    auto out = std::make_shared<Registered>();
    out->clsid_text = *clsid_text;
    const std::u16string wide = platform::FromUtf8(*clsid_text);
    if (FAILED(CLSIDFromString(wide.c_str(), &out->clsid))) {
        why = "the registration of " + name + " names no valid class (" + *clsid_text + "); " + FixHint();
        return nullptr;
    }
    const std::optional<std::string> path = posix::registry::GetValue("CLSID\\" + *clsid_text + "\\InprocServer32", "");
    if (!path || path->empty()) {
        why = "class " + *clsid_text + " of " + name + " has no in-process server registered; " + FixHint();
        return nullptr;
    }
    out->library = *path;
    return out;
}

// Registrations read before, kept while the registry is unchanged: one call
// may bind thousands of objects of one class, and each bind asks the
// registry again whether anything was committed since.
std::shared_ptr<const Registered> Lookup(const std::string& name, std::string& why) {
    struct Known {
        posix::registry::Version version;
        std::map<std::string, std::shared_ptr<const Registered>, std::less<>> classes;
    };
    static std::mutex lock;
    static auto* known = new std::optional<Known>();
    const std::optional<posix::registry::Version> version = posix::registry::CurrentVersion();
    if (version) {
        std::lock_guard<std::mutex> guard(lock);
        if (*known && (*known)->version == *version) {
            if (const auto found = (*known)->classes.find(name); found != (*known)->classes.end()) return found->second;
        }
    }
    std::shared_ptr<const Registered> registered = ReadRegistration(name, why);
    if (!registered) return nullptr;
    // Read after the version: a commit in between changes the version, and
    // the next bind reads again.
    if (version) {
        std::lock_guard<std::mutex> guard(lock);
        if (!*known || (*known)->version != *version) known->emplace(Known{*version, {}});
        (*known)->classes[name] = registered;
    }
    return registered;
}

// A directory path names its computer first (PREFIX://COMPUTER/...): when a
// bind failed and that name is neither this machine's nor localhost, that is
// most likely why, and the provider's bare HRESULT would not say so.
std::string ComputerHint(std::u16string_view moniker, std::size_t colon) {
    const std::u16string_view rest = moniker.substr(colon + 1);
    if (rest.substr(0, 2) != u"//") return {};
    std::u16string_view named = rest.substr(2);
    named = named.substr(0, named.find(u'/'));
    std::string own;
    if (!platform::GetComputerName(own)) own.clear();
    const std::string text = platform::ToUtf8(named);
    const auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
               });
    };
    if (text.empty() || same(text, "localhost") || same(text, own)) return {};
    return "the computer " + text + " in " + platform::ToUtf8(moniker) + " is not this machine, " +
           (own.empty() ? std::string("which has no computer name") : own) +
           " (ComputerName in machine.ini); name that computer, or localhost";
}

}  // namespace

Object CreateObject(std::u16string_view prog_id) {
    const StepError cannot_create = RuntimeStepError(kCannotCreateObject);
    const std::string name = platform::ToUtf8(prog_id);
    std::string why;
    const std::shared_ptr<const Registered> entry = Lookup(name, why);
    if (!entry) Fail(cannot_create, why);
    const GetClassObjectFn get_class_object = EntryOf(entry->library, [&] { return cannot_create; });
    ComPtr<IClassFactory> factory;
    HRESULT hr = get_class_object(entry->clsid, IID_IClassFactory, factory.out_void());
    if (FAILED(hr) || !factory) {
        Fail(cannot_create,
             entry->library + " refused the class object for " + entry->clsid_text + " (" + Hex(hr) +
                 "); the registration may be stale: " + FixHint());
    }
    ComPtr<IDispatch> object;
    hr = factory->CreateInstance(nullptr, IID_IDispatch, object.out_void());
    if (FAILED(hr) || !object) {
        StepError error = hr == E_NOINTERFACE || hr == CLASS_E_CLASSNOTAVAILABLE || SUCCEEDED(hr)
                              ? cannot_create
                              : ErrorFromHresult(hr);
        Fail(error, "the class object of " + entry->library + " could not create " + name + " (" + Hex(hr) + ")");
    }
    return Object(std::move(object));
}

Object GetObject(std::u16string_view moniker) {
    // "PREFIX:rest"; a one-letter prefix would be a drive.
    const std::size_t colon = moniker.find(u':');
    if (colon == std::u16string_view::npos || colon < 2) {
        Fail(ErrorFromHresult(MK_E_SYNTAX), "'" + platform::ToUtf8(moniker) + "' names no moniker prefix");
    }
    const std::string prefix = platform::ToUtf8(moniker.substr(0, colon));
    std::string why;
    const std::shared_ptr<const Registered> entry = Lookup(prefix, why);
    if (!entry) Fail(ErrorFromHresult(MK_E_SYNTAX), why);
    ComPtr<IParseDisplayName> parser;
    {
        std::lock_guard<std::mutex> guard(entry->parser_lock);
        const std::uint64_t call = posix::registry::LookAgainCount();
        if (!entry->parser || entry->parser_call != call) {
            entry->parser = ComPtr<IParseDisplayName>();
            const GetClassObjectFn get_class_object =
                EntryOf(entry->library, [] { return ErrorFromHresult(MK_E_SYNTAX); });
            const HRESULT hr = get_class_object(entry->clsid, IID_IParseDisplayName, entry->parser.out_void());
            if (FAILED(hr) || !entry->parser) {
                entry->parser = ComPtr<IParseDisplayName>();
                Fail(ErrorFromHresult(MK_E_SYNTAX),
                     entry->library + " gives no display-name parser for " + prefix + " (" + Hex(hr) + ")");
            }
            entry->parser_call = call;
        }
        parser = entry->parser;
    }
    HRESULT hr = S_OK;
    OleText text(moniker);
    ULONG eaten = 0;
    ComPtr<IMoniker> parsed;
    hr = parser->ParseDisplayName(nullptr, text.get(), &eaten, parsed.out());
    if (FAILED(hr) || !parsed) Fail(ErrorFromHresult(FAILED(hr) ? hr : MK_E_SYNTAX), ComputerHint(moniker, colon));
    if (eaten != moniker.size()) Fail(ErrorFromHresult(MK_E_SYNTAX), "the provider left part of the name");
    ComPtr<IDispatch> object;
    hr = parsed->BindToObject(nullptr, nullptr, IID_IDispatch, object.out_void());
    if (FAILED(hr) || !object) Fail(ErrorFromHresult(FAILED(hr) ? hr : MK_E_NOOBJECT), ComputerHint(moniker, colon));
    return Object(std::move(object));
}

}  // namespace quorvel::automation
