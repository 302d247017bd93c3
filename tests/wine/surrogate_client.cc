// A client that asks for SiteManage out of process only (CLSCTX_LOCAL_SERVER),
// as a caller that wants the component isolated, or a remote one, does: the
// registration's AppID makes the system surrogate (dllhost.exe) load
// quorvel.dll, and the interface crosses processes through the type library.
// Checks that the calls work late and early bound, that they ran in the
// surrogate (its error log gets the failing call's line while this process
// never loads quorvel.dll), and that the surrogate's end does not end this
// process. Exits non-zero on the first mismatch.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "quorvel_interface.h"
#include "tests/wine/com_client.h"

using namespace client;

namespace {

constexpr wchar_t kModuleName[] = L"quorvel.dll";

std::wstring ClassGuid() {
    wchar_t text[64] = {};
    StringFromGUID2(quorvel::kClsid, text, 64);
    return text;
}

// The registered quorvel.dll: the file that any process hosting the class loads.
std::wstring RegisteredModule() {
    const std::wstring key = L"CLSID\\" + ClassGuid() + L"\\InprocServer32";
    wchar_t path[MAX_PATH] = {};
    DWORD bytes = sizeof(path);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes) != ERROR_SUCCESS) {
        return {};
    }
    return path;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// The surrogate: the dllhost.exe that has quorvel.dll loaded; 0 when none has.
DWORD FindSurrogate() {
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) return 0;
    DWORD found = 0;
    PROCESSENTRY32W process{};
    process.dwSize = sizeof(process);
    for (BOOL more = Process32FirstW(processes, &process); more && found == 0;
         more = Process32NextW(processes, &process)) {
        if (lstrcmpiW(process.szExeFile, L"dllhost.exe") != 0) continue;
        HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
        if (modules == INVALID_HANDLE_VALUE) continue;
        MODULEENTRY32W module{};
        module.dwSize = sizeof(module);
        for (BOOL next = Module32FirstW(modules, &module); next; next = Module32NextW(modules, &module)) {
            if (lstrcmpiW(module.szModule, kModuleName) == 0) {
                found = process.th32ProcessID;
                break;
            }
        }
        CloseHandle(modules);
    }
    CloseHandle(processes);
    return found;
}

// Ends the surrogate as a fault in the component would, and waits for it.
bool EndProcess(DWORD id) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) return false;
    const bool ended = TerminateProcess(process, 3) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

// PostFtpSit(action, user, folder, password, home, access) through
// IDispatch, for an account in C:\ftp; the result, or -1.
LONG PostFtpSitLate(IDispatch* site, const wchar_t* action, const wchar_t* user, const std::wstring& folder,
                    HRESULT* hr) {
    const std::wstring home = std::wstring(L"C:\\ftp\\") + user;
    const std::wstring texts[] = {action, user, folder, L"secret", home, home + L"|RWAMLCDP"};
    VARIANT args[6];
    for (int i = 0; i < 6; ++i) {
        VariantInit(&args[i]);
        args[i].vt = VT_BSTR;
        args[i].bstrVal = SysAllocString(texts[i].c_str());
    }
    VARIANT out;
    VariantInit(&out);
    *hr = InvokeByName(site, L"PostFtpSit", args, 6, &out);
    const LONG result = (*hr == S_OK && out.vt == VT_I4) ? out.lVal : -1;
    VariantClear(&out);
    for (auto& arg : args) VariantClear(&arg);
    return result;
}

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    {
        const std::wstring module = RegisteredModule();
        Check(!module.empty(), "the class is registered with its DLL");
        const std::wstring log = FolderOf(module) + L"\\DllErr.log";
        const std::wstring folder = TestFolder(L"quorvel-surrogate-");
        const std::wstring ini = folder + L"\\ServUDaemon.ini";
        Check(WriteFtpConfiguration(ini), "test configuration written");

        // A surrogate that an interrupted run left would serve this one.
        if (const DWORD left = FindSurrogate(); left != 0) EndProcess(left);

        ComRef<IDispatch> site;
        HRESULT hr = CoCreateInstance(quorvel::kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, site.out());
        std::printf("     CoCreateInstance(CLSCTX_LOCAL_SERVER): 0x%08lX\n", static_cast<unsigned long>(hr));
        Check(SUCCEEDED(hr) && site.get() != nullptr, "CoCreateInstance(SiteManage, CLSCTX_LOCAL_SERVER)");
        if (site.get() == nullptr) return 1;

        // Late binding, as a script on the web server calls it.
        Check(PostFtpSitLate(site.get(), L"ADD", L"alice", folder, &hr) == 0, "Invoke PostFtpSit ADD returns 0");
        Check(ReadIni(ini, "Domain1", "User1") == "alice|1|0", "the surrogate wrote the account");

        // A failing call: its line reaches the error log beside the DLL.
        const std::size_t logged = ReadBytes(log).size();
        Check(PostFtpSitLate(site.get(), L"ADD", L"alice", folder, &hr) == 2,
              "Invoke PostFtpSit ADD of an existing account returns 2");
        const std::string after = ReadBytes(log);
        const std::string added = after.size() > logged ? after.substr(logged) : std::string();
        Check(added.find("PostFtpSit") != std::string::npos, "the failing call added its line to DllErr.log");

        // Early binding: the vtable of _SiteManage, marshalled through the type library.
        ComRef<quorvel::_SiteManage> early;
        hr = site->QueryInterface(quorvel::kIid, early.out());
        Check(SUCCEEDED(hr) && early.get() != nullptr, "QueryInterface(_SiteManage) across processes");
        if (early.get() != nullptr) {
            Bstr is_user(L"ISUSER"), alice(L"alice"), bob(L"bob"), cfile(folder), empty(L"");
            LONG result = -1;
            hr = early->PostFtpSit(is_user.get(), alice.get(), cfile.get(), empty.get(), empty.get(), empty.get(), 0,
                                   0, 0, 0, 0, &result);
            Check(hr == S_OK && result == 0, "vtable PostFtpSit ISUSER of alice returns 0");
            result = -1;
            hr = early->PostFtpSit(is_user.get(), bob.get(), cfile.get(), empty.get(), empty.get(), empty.get(), 0, 0,
                                   0, 0, 0, &result);
            Check(hr == S_OK && result == 3, "vtable PostFtpSit ISUSER of bob returns 3");
        }

        // Where it ran: never here, in the system's surrogate.
        Check(GetModuleHandleW(kModuleName) == nullptr, "this process never loaded quorvel.dll");
        const DWORD host = FindSurrogate();
        Check(host != 0, "dllhost.exe hosts quorvel.dll");

        // The surrogate ends (as a crash in the component would end it): this
        // process gets an error and goes on, and the next creation starts another.
        if (host != 0) {
            Check(EndProcess(host), "the surrogate ended");
            const LONG result = PostFtpSitLate(site.get(), L"ISUSER", L"alice", folder, &hr);
            std::printf("     a call to the ended surrogate: 0x%08lX\n", static_cast<unsigned long>(hr));
            Check(FAILED(hr) && result == -1, "a call to the ended surrogate fails in this process");
            early.Reset();
            site.Reset();
            hr = CoCreateInstance(quorvel::kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, site.out());
            Check(SUCCEEDED(hr) && site.get() != nullptr, "a new creation starts another surrogate");
            if (site.get() != nullptr) {
                Check(PostFtpSitLate(site.get(), L"ISUSER", L"alice", folder, &hr) == 0,
                      "Invoke PostFtpSit ISUSER of alice returns 0 in the new surrogate");
            }
        }
        site.Reset();
        early.Reset();
        // Wine's surrogate outlives its last object (nothing tells it to
        // go), until the prefix's server ends: this test's goes with it.
        if (const DWORD left = FindSurrogate(); left != 0) EndProcess(left);

        DeleteFileW(ini.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    CoUninitialize();
    std::printf("%s\n", failures == 0 ? "surrogate: all passed" : "surrogate: FAILED");
    return failures == 0 ? 0 : 1;
}
