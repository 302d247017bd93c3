#include "component/site_manage.h"

#include <new>
#include <utility>

#include "component/class_factory.h"
#include "accounts/post_nt_user.h"
#include "component/dispatch.h"
#include "ftp/post_ftp_sit.h"
#include "host/exit_windows.h"
#include "host/supervise.h"
#include "permissions/post_cacls.h"

namespace quorvel::component {
namespace {

using platform::FromBstr;

// No exception may cross the vtable: a failure inside a service reaches the
// caller as an HRESULT.
template <typename Work>
HRESULT Guarded(Work&& work) noexcept {
    try {
        return std::forward<Work>(work)();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Methods whose service is not part of this build.
template <typename T>
HRESULT NotBuilt(T* result) {
    if (result == nullptr) return E_POINTER;
    *result = T{};
    return E_NOTIMPL;
}

}  // namespace

SiteManage::SiteManage() { ModuleAddRef(); }

SiteManage::~SiteManage() { ModuleRelease(); }

HRESULT SiteManage::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kIid)) {
        *ppv = static_cast<_SiteManage*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG SiteManage::AddRef() { return ++refs_; }

ULONG SiteManage::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT SiteManage::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT SiteManage::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo == nullptr) return E_POINTER;
    *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT SiteManage::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    return Guarded([&] { return DispatchGetIDsOfNames(riid, rgszNames, cNames, rgDispId); });
}

HRESULT SiteManage::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return Guarded([&] {
        return DispatchInvoke(this, dispIdMember, riid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    });
}

HRESULT SiteManage::PostFtpSit(BSTR FtpAction, BSTR FtpUser, BSTR CFile, BSTR FtpPass, BSTR HomeDir, BSTR Access,
                               LONG MaxNrUsers, LONG DiskQuota, LONG FtpLdle, LONG SpeedLimitUp,
                               LONG SpeedLimitDown, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = ftp::PostFtpSit(FromBstr(FtpAction), FromBstr(FtpUser), FromBstr(CFile), FromBstr(FtpPass),
                                  FromBstr(HomeDir), FromBstr(Access), MaxNrUsers, DiskQuota, FtpLdle,
                                  SpeedLimitUp, SpeedLimitDown);
        return S_OK;
    });
}

HRESULT SiteManage::PostWebSit(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG, LONG, LONG, LONG, BSTR, BSTR,
                               LONG* Result) {
    return NotBuilt(Result);
}

HRESULT SiteManage::PostEmailDomain(BSTR, BSTR, BSTR, BSTR, VARIANT_BOOL, LONG, LONG, LONG, VARIANT_BOOL,
                                    LONG* Result) {
    return NotBuilt(Result);
}

HRESULT SiteManage::PostEmail(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG, LONG, LONG* Result) {
    return NotBuilt(Result);
}

HRESULT SiteManage::GetMailPass(BSTR, BSTR, BSTR, BSTR* Result) { return NotBuilt(Result); }

HRESULT SiteManage::PostNTUser(BSTR Action, BSTR FullName, BSTR UserName, BSTR PassWord, BSTR Groups,
                               LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = accounts::PostNTUser(FromBstr(Action), FromBstr(FullName), FromBstr(UserName), FromBstr(PassWord),
                                       FromBstr(Groups));
        return S_OK;
    });
}

HRESULT SiteManage::PostCACLS(BSTR Action, BSTR FolderName, BSTR NtUser, BSTR Owner, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = permissions::PostCACLS(FromBstr(Action), FromBstr(FolderName), FromBstr(NtUser), FromBstr(Owner));
        return S_OK;
    });
}

HRESULT SiteManage::BackupSit(BSTR, LONG, BSTR, BSTR, BSTR, LONG* Result) { return NotBuilt(Result); }

HRESULT SiteManage::ExitWindows(BSTR Action, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = host::ExitWindows(FromBstr(Action));
        return S_OK;
    });
}

HRESULT SiteManage::Supervise(BSTR Url, BSTR Sign, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = host::Supervise(FromBstr(Url), FromBstr(Sign));
        return S_OK;
    });
}

HRESULT SiteManage::SendMail(LONG, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG* Result) {
    return NotBuilt(Result);
}

}  // namespace quorvel::component
