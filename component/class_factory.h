// The class object of SiteManage and the module's unload bookkeeping.
#pragma once

#include "platform/com.h"

namespace quorvel::component {

// The body of DllGetClassObject: a class object for SiteManage's CLSID.
HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

// The body of DllCanUnloadNow: S_OK when no object or lock is outstanding.
HRESULT CanUnloadNow();

}  // namespace quorvel::component
