// The one shape of a COM object here, the component's SiteManage and every
// stand-in, enumerator and class object alike: reference counting and
// QueryInterface for the interfaces it derives from (the first is its
// IUnknown), and the module's lock count (DllCanUnloadNow).
//
//   class Enumerator final : public ComObject<IEnumVARIANT> { ...the interface's methods... };
//   ComPtr<IEnumVARIANT> e = MakeObject<Enumerator>(items);
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "automation/com_holders.h"

namespace quorvel::automation {

// The module's one lock count (each library has its own): every live object
// holds one, and every IClassFactory::LockServer(TRUE) until its FALSE.
namespace detail {
inline std::atomic<long> g_module_locks{0};
}  // namespace detail
inline void LockModule() { ++detail::g_module_locks; }
inline void UnlockModule() { --detail::g_module_locks; }
inline bool ModuleCanUnload() { return detail::g_module_locks.load() <= 0; }

// The IIDs an interface answers to: its own and its bases'. Specialise for
// an interface of your own: `template <> struct InterfaceIds<IMine> { static
// bool Matches(REFIID iid) { return IsEqualIID(iid, kIidMine) || ...; } };`
template <typename I>
struct InterfaceIds;
template <>
struct InterfaceIds<IDispatch> {
    static bool Matches(REFIID iid) { return IsEqualIID(iid, IID_IDispatch); }
};
template <>
struct InterfaceIds<IClassFactory> {
    static bool Matches(REFIID iid) { return IsEqualIID(iid, IID_IClassFactory); }
};
template <>
struct InterfaceIds<IEnumVARIANT> {
    static bool Matches(REFIID iid) { return IsEqualIID(iid, IID_IEnumVARIANT); }
};
template <>
struct InterfaceIds<IParseDisplayName> {
    static bool Matches(REFIID iid) { return IsEqualIID(iid, IID_IParseDisplayName); }
};
template <>
struct InterfaceIds<IMoniker> {
    static bool Matches(REFIID iid) {
        return IsEqualIID(iid, IID_IMoniker) || IsEqualIID(iid, IID_IPersistStream) || IsEqualIID(iid, IID_IPersist);
    }
};
template <>
struct InterfaceIds<ISupportErrorInfo> {
    static bool Matches(REFIID iid) { return IsEqualIID(iid, IID_ISupportErrorInfo); }
};

template <typename First, typename... Rest>
class ComObject : public First, public Rest... {
public:
    using Primary = First;
    ComObject() { LockModule(); }
    virtual ~ComObject() { UnlockModule(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<First*>(this);
        } else {
            (void)(Find<First>(riid, ppv) || ... || Find<Rest>(riid, ppv));
        }
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    // The one cast from the object to an interface it serves: its base I.
    template <typename I>
    bool Find(REFIID riid, void** ppv) {
        if (InterfaceIds<I>::Matches(riid)) *ppv = static_cast<I*>(this);
        return *ppv != nullptr;
    }

    std::atomic<ULONG> refs_{1};
};

// A new object as a ComPtr of its first interface (or `As`); empty when out of memory.
template <typename T, typename As = void, typename... Args>
auto MakeObject(Args&&... args) {
    using Interface = std::conditional_t<std::is_void_v<As>, typename T::Primary, As>;
    T* raw = new (std::nothrow) T(std::forward<Args>(args)...);
    return ComPtr<Interface>::Attach(static_cast<Interface*>(raw));
}

}  // namespace quorvel::automation
