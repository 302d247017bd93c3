// The four entry points of the stand-in library.
#include <string>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/registry.h"
#include "platform/utf8.h"
#include "standins/catalog.h"
#include "standins/iis/metabase.h"

namespace quorvel::standins {
namespace {

const StandinClass* Find(REFCLSID clsid) {
    // The catalog's class identifiers, parsed once: every bind asks.
    static const std::vector<std::pair<CLSID, const StandinClass*>> parsed = [] {
        std::vector<std::pair<CLSID, const StandinClass*>> list;
        for (const StandinClass& c : Classes()) {
            CLSID id{};
            const std::u16string text = platform::FromUtf8(c.clsid);
            if (SUCCEEDED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(text.c_str()), &id))) list.emplace_back(id, &c);
        }
        return list;
    }();
    for (const auto& [id, c] : parsed) {
        if (IsEqualCLSID(id, clsid)) return c;
    }
    return nullptr;
}

bool Remove() {
    bool ok = true;
    for (const StandinClass& c : Classes()) {
        ok = platform::DeleteClassesRootTree(std::string("CLSID\\") + c.clsid) && ok;
        ok = platform::DeleteClassesRootTree(c.prog_id) && ok;
    }
    return ok;
}

bool Write() {
    const std::string module = platform::ModulePathForRegistry();
    if (module.empty()) return false;
    for (const StandinClass& c : Classes()) {
        const std::string key = std::string("CLSID\\") + c.clsid;
        if (!platform::SetClassesRootValue(key, "", c.name) ||
            !platform::SetClassesRootValue(key + "\\InprocServer32", "", module) ||
            !platform::SetClassesRootValue(key + "\\InprocServer32", "ThreadingModel", "Both") ||
            !platform::SetClassesRootValue(key + "\\ProgID", "", c.prog_id) ||
            !platform::SetClassesRootValue(c.prog_id, "", c.name) ||
            !platform::SetClassesRootValue(std::string(c.prog_id) + "\\CLSID", "", c.clsid)) {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace quorvel::standins

using quorvel::standins::Find;

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    const quorvel::standins::StandinClass* found = Find(rclsid);
    if (found == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    quorvel::iis::LookAtStoreAgain();
    return quorvel::automation::ClassObject::Serve(found->create, found->bind, riid, ppv);
}

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
    try {
        if (quorvel::standins::Write()) return S_OK;
        quorvel::standins::Remove();
    } catch (...) {
    }
    return SELFREG_E_CLASS;
}

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    try {
        return quorvel::standins::Remove() ? S_OK : SELFREG_E_CLASS;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return quorvel::automation::ModuleCanUnload() ? S_OK : S_FALSE;
}
