// The four entry points of the in-process server; everything else of the
// library stays inside it.
#include "component/class_factory.h"
#include "component/registration.h"
#include "platform/com.h"
#include "quorvel_version.h"

// The version, found in the library file without loading it.
[[gnu::used]] static constexpr char kVersionMark[] = QUORVEL_VERSION_MARK QUORVEL_VERSION;

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
    return quorvel::component::RegisterServer();
}

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return quorvel::component::UnregisterServer();
}

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return quorvel::component::GetClassObject(rclsid, riid, ppv);
}

extern "C" QUORVEL_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() { return quorvel::component::CanUnloadNow(); }
