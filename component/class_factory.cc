#include "component/class_factory.h"

#include <new>

#include "automation/com_object.h"
#include "component/site_manage.h"
#include "quorvel_interface.h"

namespace quorvel::component {
namespace {

class SiteManageFactory final : public platform::ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) SiteManage();
        if (object == nullptr) return E_OUTOFMEMORY;
        // The object starts with one reference; QueryInterface adds the caller's.
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ModuleAddRef();
        } else {
            ModuleRelease();
        }
        return S_OK;
    }
};

}  // namespace

void ModuleAddRef() { ++platform::g_module_objects; }

void ModuleRelease() { --platform::g_module_objects; }

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    const platform::ComPtr<IClassFactory> factory = platform::MakeObject<SiteManageFactory>();
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

HRESULT CanUnloadNow() { return platform::ModuleCanUnload() ? S_OK : S_FALSE; }

}  // namespace quorvel::component
