#include "component/class_factory.h"

#include "component/site_manage.h"
#include "automation/automation.h"
#include "quorvel_interface.h"

namespace quorvel::component {

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    // The class object every library here hands out; SiteManage is created,
    // never bound by a display name.
    return automation::ClassObject::Serve(&automation::CreateInstanceOf<SiteManage>, nullptr, riid, ppv);
}

HRESULT CanUnloadNow() { return automation::ModuleCanUnload() ? S_OK : S_FALSE; }

}  // namespace quorvel::component
