// The entries that make SiteManage creatable by its ProgID: the class, the
// ProgID, the interface (marshalled through the type library) and the type
// library itself, all under HKEY_CLASSES_ROOT.
#pragma once

#include "platform/com.h"

namespace quorvel::component {

// The body of DllRegisterServer: S_OK, or SELFREG_E_CLASS with nothing left
// behind.
HRESULT RegisterServer();

// The body of DllUnregisterServer: removes every key RegisterServer writes.
HRESULT UnregisterServer();

}  // namespace quorvel::component
