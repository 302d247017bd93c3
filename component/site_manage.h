// The component's one creatable class. It keeps no state between calls: each
// method copies its arguments and hands them to its service.
#pragma once

#include "automation/com_object.h"
#include "quorvel_interface.h"

// The dual interface answers to its own IID and to IDispatch's.
template <>
struct quorvel::automation::InterfaceIds<quorvel::_SiteManage> {
    static bool Matches(REFIID iid) { return IsEqualIID(iid, kIid) || IsEqualIID(iid, IID_IDispatch); }
};

namespace quorvel::component {

// IUnknown and the module's count come from ComObject, as for every object
// of the project; this class is its interface's methods.
class SiteManage final : public automation::ComObject<_SiteManage> {
public:
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr) override;

    // _SiteManage
    HRESULT STDMETHODCALLTYPE PostWebSit(BSTR WebAction, BSTR WebSiteName, BSTR WebFilesPath, BSTR WebDefaultDoc,
                                         BSTR WebScriptMaps, BSTR WebServerbindings, BSTR WebAccess,
                                         BSTR WebLogPath, LONG WebLinks, LONG WebTimes, LONG WebWidth, LONG WebCPU,
                                         BSTR IUSRName, BSTR IUSRPass, LONG* Result) override;
    HRESULT STDMETHODCALLTYPE PostFtpSit(BSTR FtpAction, BSTR FtpUser, BSTR CFile, BSTR FtpPass, BSTR HomeDir,
                                         BSTR Access, LONG MaxNrUsers, LONG DiskQuota, LONG FtpLdle,
                                         LONG SpeedLimitUp, LONG SpeedLimitDown, LONG* Result) override;
    HRESULT STDMETHODCALLTYPE PostEmailDomain(BSTR Action, BSTR MailDir, BSTR Domain, BSTR IPAddress,
                                              VARIANT_BOOL Bind, LONG MaxInactive, LONG MaxMessageAge,
                                              LONG MaxDeletedIMAPMessageAge, VARIANT_BOOL RecurseIMAP,
                                              LONG* Result) override;
    HRESULT STDMETHODCALLTYPE PostEmail(BSTR Action, BSTR MailDir, BSTR Domain, BSTR MailBox, BSTR IPAddress,
                                        BSTR RealName, BSTR PassWord, LONG MessageMax, LONG MessageDisk,
                                        LONG* Result) override;
    HRESULT STDMETHODCALLTYPE GetMailPass(BSTR HttpAddress, BSTR MailDir, BSTR MailPass, BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE PostNTUser(BSTR Action, BSTR FullName, BSTR UserName, BSTR PassWord, BSTR Groups,
                                         LONG* Result) override;
    HRESULT STDMETHODCALLTYPE PostCACLS(BSTR Action, BSTR FolderName, BSTR NtUser, BSTR Owner,
                                        LONG* Result) override;
    HRESULT STDMETHODCALLTYPE BackupSit(BSTR Action, LONG Edition, BSTR Bakname, BSTR SetPath, BSTR BakPath,
                                        LONG* Result) override;
    HRESULT STDMETHODCALLTYPE ExitWindows(BSTR Action, LONG* Result) override;
    HRESULT STDMETHODCALLTYPE Supervise(BSTR Url, BSTR Sign, LONG* Result) override;
    HRESULT STDMETHODCALLTYPE SendMail(LONG Sign, BSTR MailFrom, BSTR MailTo, BSTR MailSubject, BSTR MailBody,
                                       BSTR MailServerUserName, BSTR MailServerPassword, BSTR MailServerIp,
                                       LONG* Result) override;
};

}  // namespace quorvel::component
