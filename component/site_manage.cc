#include "component/site_manage.h"

#include <new>
#include <utility>

#include "accounts/post_nt_user.h"
#include "component/dispatch.h"
#include "backup/backup_sit.h"
#include "ftp/post_ftp_sit.h"
#include "host/exit_windows.h"
#include "host/supervise.h"
#include "mail/get_mail_pass.h"
#include "mail/post_email.h"
#include "mail/post_email_domain.h"
#include "permissions/post_cacls.h"
#include "web/post_web_sit.h"
#include "sendmail/send_mail.h"

namespace quorvel::component {
namespace {

using platform::FromBstr;
using platform::ToBstr;

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

}  // namespace

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

HRESULT SiteManage::PostWebSit(BSTR WebAction, BSTR WebSiteName, BSTR WebFilesPath, BSTR WebDefaultDoc,
                               BSTR WebScriptMaps, BSTR WebServerbindings, BSTR WebAccess, BSTR WebLogPath,
                               LONG WebLinks, LONG WebTimes, LONG WebWidth, LONG WebCPU, BSTR IUSRName, BSTR IUSRPass,
                               LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = web::PostWebSit(FromBstr(WebAction), FromBstr(WebSiteName), FromBstr(WebFilesPath),
                                  FromBstr(WebDefaultDoc), FromBstr(WebScriptMaps), FromBstr(WebServerbindings),
                                  FromBstr(WebAccess), FromBstr(WebLogPath), WebLinks, WebTimes, WebWidth, WebCPU,
                                  FromBstr(IUSRName), FromBstr(IUSRPass));
        return S_OK;
    });
}

HRESULT SiteManage::PostEmailDomain(BSTR Action, BSTR MailDir, BSTR Domain, BSTR IPAddress, VARIANT_BOOL Bind,
                                    LONG MaxInactive, LONG MaxMessageAge, LONG MaxDeletedIMAPMessageAge,
                                    VARIANT_BOOL RecurseIMAP, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = mail::PostEmailDomain(FromBstr(Action), FromBstr(MailDir), FromBstr(Domain), FromBstr(IPAddress),
                                        Bind != VARIANT_FALSE, MaxInactive, MaxMessageAge, MaxDeletedIMAPMessageAge,
                                        RecurseIMAP != VARIANT_FALSE);
        return S_OK;
    });
}

HRESULT SiteManage::PostEmail(BSTR Action, BSTR MailDir, BSTR Domain, BSTR MailBox, BSTR IPAddress, BSTR RealName,
                              BSTR PassWord, LONG MessageMax, LONG MessageDisk, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    // The password lookup goes through this object's own interface, as any
    // client's call would.
    auto get_mail_pass = [this](const std::u16string& address, const std::u16string& dir,
                                const std::u16string& password) -> std::u16string {
        const auto self = automation::ComPtr<_SiteManage>::Share(this).Query<_SiteManage>(kIid);
        if (!self) return {};
        const automation::Bstr a(address), d(dir), p(password);
        automation::Bstr result;
        const HRESULT hr = self->GetMailPass(a.get(), d.get(), p.get(), result.out());
        return SUCCEEDED(hr) ? result.str() : std::u16string();
    };
    return Guarded([&] {
        *Result = mail::PostEmail(FromBstr(Action), FromBstr(MailDir), FromBstr(Domain), FromBstr(MailBox),
                                  FromBstr(IPAddress), FromBstr(RealName), FromBstr(PassWord), MessageMax,
                                  MessageDisk, get_mail_pass);
        return S_OK;
    });
}

HRESULT SiteManage::GetMailPass(BSTR HttpAddress, BSTR MailDir, BSTR MailPass, BSTR* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = nullptr;
    return Guarded([&] {
        const std::u16string password = mail::GetMailPass(FromBstr(HttpAddress), FromBstr(MailDir), FromBstr(MailPass));
        *Result = ToBstr(password);
        return *Result == nullptr ? E_OUTOFMEMORY : S_OK;
    });
}

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

HRESULT SiteManage::BackupSit(BSTR Action, LONG Edition, BSTR Bakname, BSTR SetPath, BSTR BakPath, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = backup::BackupSit(FromBstr(Action), Edition, FromBstr(Bakname), FromBstr(SetPath), FromBstr(BakPath));
        return S_OK;
    });
}

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

HRESULT SiteManage::SendMail(LONG Sign, BSTR MailFrom, BSTR MailTo, BSTR MailSubject, BSTR MailBody,
                             BSTR MailServerUserName, BSTR MailServerPassword, BSTR MailServerIp, LONG* Result) {
    if (Result == nullptr) return E_POINTER;
    *Result = 0;
    return Guarded([&] {
        *Result = sendmail::SendMail(Sign, FromBstr(MailFrom), FromBstr(MailTo), FromBstr(MailSubject),
                                     FromBstr(MailBody), FromBstr(MailServerUserName), FromBstr(MailServerPassword),
                                     FromBstr(MailServerIp));
        return S_OK;
    });
}

}  // namespace quorvel::component
