// The class object of SiteManage and the module's unload bookkeeping.
#pragma once

#include "platform/com.h"

namespace quorvel::component {

// Every live object of the module (instances and class objects) holds one
// reference; LockServer holds one more per lock.
void ModuleAddRef();
void ModuleRelease();

// The body of DllGetClassObject: a class object for SiteManage's CLSID.
HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

// The body of DllCanUnloadNow: S_OK when no object or lock is outstanding.
HRESULT CanUnloadNow();

}  // namespace quorvel::component
