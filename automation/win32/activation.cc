// Activation on Windows: the system's own moniker parsing and class creation,
// which reach the providers and components registered on the machine.
#include <objbase.h>

#include <string>

#include "automation/objects.h"
#include "platform/win32/wide.h"

namespace quorvel::automation {
namespace {

bool CannotCreate(HRESULT hr) {
    return hr == REGDB_E_CLASSNOTREG || hr == CLASS_E_CLASSNOTAVAILABLE || hr == E_NOINTERFACE ||
           hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL || hr == CO_E_CLASSSTRING ||
           hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) || hr == CO_E_APPNOTFOUND;
}

}  // namespace

Object CreateObject(std::u16string_view prog_id) {
    const std::wstring name = win32::Wide(prog_id);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(hr)) {
        StepError error = RuntimeStepError(kCannotCreateObject);
        error.detail = "the ProgID is not registered";
        throw error;
    }
    ComPtr<IDispatch> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          object.out_void());
    if (FAILED(hr) || !object) {
        StepError error = FAILED(hr) && !CannotCreate(hr) ? ErrorFromHresult(hr) : RuntimeStepError(kCannotCreateObject);
        error.detail = "CoCreateInstance failed";
        throw error;
    }
    return Object(std::move(object));
}

Object GetObject(std::u16string_view moniker) {
    const std::wstring name = win32::Wide(moniker);
    ComPtr<IDispatch> object;
    const HRESULT hr = CoGetObject(name.c_str(), nullptr, IID_IDispatch, object.out_void());
    if (FAILED(hr) || !object) throw ErrorFromHresult(FAILED(hr) ? hr : MK_E_NOOBJECT);
    return Object(std::move(object));
}

}  // namespace quorvel::automation
