// The four entry points of the in-process server; everything else of the
// library stays inside it.
#include "component/class_factory.h"
#include "component/registration.h"
#include "platform/com.h"

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
