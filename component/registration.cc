#include "component/registration.h"

#include <string>
#include <string_view>

#include "platform/registry.h"
#include "quorvel_interface.h"

namespace quorvel::component {
namespace {

// The interface's names are ASCII identifiers.
std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out += static_cast<char>(c);
    return out;
}

std::string ClassKey() { return std::string("CLSID\\") + kClassGuid; }
std::string InterfaceKey() { return std::string("Interface\\") + kInterfaceGuid; }
std::string TypeLibKey() { return std::string("TypeLib\\") + kLibraryGuid; }
// The class's application shares its GUID: Wine's surrogate is started with
// the class's GUID where Windows passes the AppID, and one GUID serves both.
std::string AppIdKey() { return std::string("AppID\\") + kClassGuid; }

// The folder of a module path, whichever separator the platform uses.
std::string FolderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return {};
    return path.substr(0, cut == 0 ? 1 : cut);
}

bool WriteEntries() {
    const std::string module = platform::ModulePathForRegistry();
    if (module.empty()) return false;
    const std::string prog_id = Narrow(kProgId);
    const std::string class_name = Narrow(kClassName);
    const std::string clsid = ClassKey();
    const std::string iid = InterfaceKey();
    const std::string version = TypeLibKey() + "\\1.0";
    const std::string app_id = AppIdKey();

    struct Entry {
        std::string key;
        std::string name;
        std::string value;
    };
    const Entry entries[] = {
        {clsid, "", class_name},
        {clsid + "\\InprocServer32", "", module},
        {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {clsid + "\\ProgID", "", prog_id},
        {clsid + "\\TypeLib", "", kLibraryGuid},
        {clsid + "\\Version", "", "1.0"},
        // Out-of-process use: CLSCTX_LOCAL_SERVER loads the DLL into the
        // system surrogate (an empty DllSurrogate names dllhost.exe), which
        // is also what DCOM activates for a remote caller. In-process callers
        // never look here.
        {clsid, "AppID", kClassGuid},
        {app_id, "", prog_id},
        {app_id, "DllSurrogate", ""},
        {prog_id, "", class_name},
        {prog_id + "\\CLSID", "", kClassGuid},
        {iid, "", Narrow(kInterfaceName)},
        // The universal marshaler: the interface travels through the type library.
        {iid + "\\ProxyStubClsid32", "", "{00020424-0000-0000-C000-000000000046}"},
        {iid + "\\TypeLib", "", kLibraryGuid},
        {iid + "\\TypeLib", "Version", "1.0"},
        {version, "", Narrow(kLibraryName)},
        {version + "\\0\\" + platform::TypeLibPlatformKey(), "", module},
        {version + "\\FLAGS", "", "0"},
        {version + "\\HELPDIR", "", FolderOf(module)},
    };
    for (const Entry& e : entries) {
        if (!platform::SetClassesRootValue(e.key, e.name, e.value)) return false;
    }
    return true;
}

bool RemoveEntries() {
    bool ok = true;
    for (const std::string& key : {ClassKey(), AppIdKey(), Narrow(kProgId), InterfaceKey(), TypeLibKey()}) {
        ok = platform::DeleteClassesRootTree(key) && ok;
    }
    return ok;
}

}  // namespace

HRESULT RegisterServer() {
    try {
        if (WriteEntries()) return S_OK;
        RemoveEntries();  // a half-made registration would activate nothing
    } catch (...) {
    }
    return SELFREG_E_CLASS;
}

HRESULT UnregisterServer() {
    try {
        return RemoveEntries() ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

}  // namespace quorvel::component
