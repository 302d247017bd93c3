// A compiled client of the registered component: creates SiteManage with
// CoCreateInstance and calls PostFtpSit through the vtable of _SiteManage and
// through IDispatch::Invoke, as a C++ or VB6 program would. Exits non-zero on
// the first mismatch.
#include <windows.h>

#include <cstdio>
#include <string>

#include "quorvel_interface.h"
#include "quorvel_reference.h"

namespace {

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (p_ != nullptr) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    void** out() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
    explicit Bstr(const std::wstring& text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }

private:
    BSTR b_;
};

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

std::string ReadIni(const std::wstring& file, const char* section, const char* key) {
    char buffer[256] = {};
    const std::string path(file.begin(), file.end());  // the test folder is ASCII
    GetPrivateProfileStringA(section, key, "", buffer, sizeof(buffer), path.c_str());
    return buffer;
}

bool WriteText(const std::wstring& path, const char* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text, static_cast<DWORD>(std::char_traits<char>::length(text)), &written, nullptr);
    CloseHandle(file);
    return ok;
}

// A call through IDispatch with positional arguments, given in interface order.
HRESULT InvokeByName(IDispatch* object, const wchar_t* name, VARIANT* args_in_order, UINT count, VARIANT* result) {
    DISPID dispid = 0;
    auto* wname = const_cast<LPOLESTR>(name);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &wname, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    // DISPPARAMS holds the arguments last first.
    VARIANT reversed[16];
    for (UINT i = 0; i < count; ++i) reversed[i] = args_in_order[count - 1 - i];
    DISPPARAMS params{reversed, nullptr, count, 0};
    EXCEPINFO info{};
    UINT bad_arg = 0;
    return object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &info, &bad_arg);
}

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring folder = std::wstring(temp) + L"quorvel-early-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring ini = folder + L"\\ServUDaemon.ini";
        Check(WriteText(ini, "[GLOBAL]\r\nVersion=6.4.0.6\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Test|1|0\r\n"
                             "[Domain1]\r\n"),
              "test configuration written");

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
