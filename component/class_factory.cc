#include "component/class_factory.h"

#include <atomic>
#include <new>

#include "component/site_manage.h"
#include "quorvel_interface.h"

namespace quorvel::component {
namespace {

std::atomic<long> g_module_refs{0};

class SiteManageFactory final : public IClassFactory {
public:
    SiteManageFactory() { ModuleAddRef(); }
    ~SiteManageFactory() { ModuleRelease(); }
    SiteManageFactory(const SiteManageFactory&) = delete;
    SiteManageFactory& operator=(const SiteManageFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

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

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace

void ModuleAddRef() { ++g_module_refs; }

void ModuleRelease() { --g_module_refs; }

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) SiteManageFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT CanUnloadNow() { return g_module_refs.load() <= 0 ? S_OK : S_FALSE; }

}  // namespace quorvel::component
