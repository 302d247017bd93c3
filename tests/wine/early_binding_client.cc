// A compiled client of the registered component: creates SiteManage with
// CoCreateInstance and calls PostFtpSit through the vtable of _SiteManage and
// through IDispatch::Invoke, as a C++ or VB6 program would. Exits non-zero on
// the first mismatch.
#include <windows.h>

#include <cstdio>
#include <string>

#include "quorvel_interface.h"
#include "quorvel_reference.h"
#include "tests/wine/com_client.h"

using namespace client;

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    {
        const std::wstring folder = TestFolder(L"quorvel-early-");
        const std::wstring ini = folder + L"\\ServUDaemon.ini";
        Check(WriteFtpConfiguration(ini), "test configuration written");

        ComRef<quorvel::_SiteManage> site;
        HRESULT hr = CoCreateInstance(quorvel::kClsid, nullptr, CLSCTX_INPROC_SERVER, quorvel::kIid, site.out());
        Check(SUCCEEDED(hr) && site.get() != nullptr, "CoCreateInstance(SiteManage, _SiteManage)");
        if (site.get() == nullptr) return 1;

        // Early binding: the arguments go straight into the vtable slot.
        LONG result = -1;
        Bstr add(L"ADD"), alice(L"alice"), cfile(folder), pass(L"secret"), home(L"C:\\ftp\\alice"),
            access(L"C:\\ftp\\alice|RWAMLCDP");
        hr = site->PostFtpSit(add.get(), alice.get(), cfile.get(), pass.get(), home.get(), access.get(), 5, 500, 10, 0,
                              0, &result);
        Check(hr == S_OK && result == 0, "vtable PostFtpSit ADD returns 0");
        Check(ReadIni(ini, "Domain1", "User1") == "alice|1|0", "the user list holds alice|1|0");
        Check(ReadIni(ini, "USER=alice|1", "Password") == "vkF2E64A0E1130B994E77C3D8003C9FF38",
              "the salted password value");
        Check(ReadIni(ini, "USER=alice|1", "DiskQuota") == "1|512000|0", "DiskQuota is stored times 1024");
        Check(ReadIni(ini, "USER=alice|1", "TimeOut") == "600", "FtpLdle is stored times 60");

        result = -1;
        hr = site->PostFtpSit(add.get(), alice.get(), cfile.get(), pass.get(), home.get(), access.get(), 0, 0, 0, 0, 0,
                              &result);
        Check(hr == S_OK && result == 2, "vtable PostFtpSit ADD of an existing account returns 2");

        // Late binding from the same object: QueryInterface for IDispatch, then Invoke.
        ComRef<IDispatch> dispatch;
        Check(SUCCEEDED(site->QueryInterface(IID_IDispatch, dispatch.out())), "QueryInterface(IDispatch)");
        if (dispatch.get() != nullptr) {
            VARIANT args[3];
            for (auto& arg : args) VariantInit(&arg);
            args[0].vt = VT_BSTR;
            args[0].bstrVal = SysAllocString(L"isuser");
            args[1].vt = VT_BSTR;
            args[1].bstrVal = SysAllocString(L"alice");
            args[2].vt = VT_BSTR;
            args[2].bstrVal = SysAllocString(folder.c_str());
            VARIANT out;
            VariantInit(&out);
            hr = InvokeByName(dispatch.get(), L"postftpsit", args, 3, &out);
            Check(hr == S_OK && out.vt == VT_I4 && out.lVal == 0, "Invoke postftpsit ISUSER of alice returns 0");
            VariantClear(&out);

            SysFreeString(args[1].bstrVal);
            args[1].bstrVal = SysAllocString(L"bob");
            hr = InvokeByName(dispatch.get(), L"PostFtpSit", args, 3, &out);
            Check(hr == S_OK && out.vt == VT_I4 && out.lVal == 3, "Invoke PostFtpSit ISUSER of bob returns 3");
            VariantClear(&out);
            for (auto& arg : args) VariantClear(&arg);

            DISPID dispid = 0;
            auto* name = const_cast<LPOLESTR>(L"SendMail");
            hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid);
            Check(hr == S_OK && dispid == 0x6003000A, "GetIDsOfNames(SendMail) is 0x6003000A");
        }
        // The registered type library, loaded from the resource in quorvel.dll,
        // describes the same method as the vtable.
        ComRef<ITypeLib> library;
        hr = LoadRegTypeLib(quorvel::kLibId, 1, 0, LOCALE_NEUTRAL, reinterpret_cast<ITypeLib**>(library.out()));
        Check(SUCCEEDED(hr), "LoadRegTypeLib(Quorvel 1.0)");
        if (library.get() != nullptr) {
            ComRef<ITypeInfo> info;
            hr = library->GetTypeInfoOfGuid(quorvel::kIid, reinterpret_cast<ITypeInfo**>(info.out()));
            Check(SUCCEEDED(hr), "the type library describes _SiteManage");
            if (info.get() != nullptr) {
                MEMBERID id = 0;
                auto* name = const_cast<LPOLESTR>(L"PostFtpSit");
                Check(info->GetIDsOfNames(&name, 1, &id) == S_OK && id == 0x60030001, "type info: PostFtpSit is 0x60030001");
                FUNCDESC* desc = nullptr;
                bool found = false;
                for (UINT index = 0; info->GetFuncDesc(index, &desc) == S_OK; ++index) {
                    if (desc->memid == 0x60030001) {
                        // The dispatch view: the [out, retval] parameter is the result.
                        found = desc->funckind == FUNC_DISPATCH && desc->cParams == 11 &&
                                desc->elemdescFunc.tdesc.vt == VT_I4;
                        for (SHORT i = 0; found && i < desc->cParams; ++i) {
                            const bool optional = (desc->lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0;
                            found = optional == (i >= 3);
                        }
                    }
                    info->ReleaseFuncDesc(desc);
                }
                Check(found, "type info: PostFtpSit takes 3 required, 8 optional and the result");

                // What an object browser shows of each method: the reference's summary.
                for (const quorvel::reference::MethodEntry& method : quorvel::reference::Methods()) {
                    const std::wstring wide(method.name.begin(), method.name.end());
                    auto* method_name = const_cast<LPOLESTR>(wide.c_str());
                    MEMBERID member = 0;
                    BSTR help = nullptr;
                    const bool named = info->GetIDsOfNames(&method_name, 1, &member) == S_OK &&
                                       info->GetDocumentation(member, nullptr, &help, nullptr, nullptr) == S_OK;
                    const std::wstring text = help != nullptr ? std::wstring(help, SysStringLen(help)) : L"";
                    SysFreeString(help);
                    const std::wstring expected(method.summary.begin(), method.summary.end());
                    Check(named && text == expected,
                          ("type info: the helpstring of " + std::string(method.name) + " is its summary").c_str());
                }
            }
        }

        DeleteFileW(ini.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    CoUninitialize();
    std::printf("%s\n", failures == 0 ? "early binding: all passed" : "early binding: FAILED");
    return failures == 0 ? 0 : 1;
}
