// What the compiled clients of tests/wine/ share: owners of COM references
// and BSTRs, a check that prints and counts, files read and written the way
// a Windows program does, and a late-bound call by name.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace client {

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    void** out() { return reinterpret_cast<void**>(&p_); }
    void Reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

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

inline int failures = 0;

inline void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    if (!ok) ++failures;
}

inline std::string ReadIni(const std::wstring& file, const char* section, const char* key) {
    char buffer[256] = {};
    const std::string path(file.begin(), file.end());  // the test folders are ASCII
    GetPrivateProfileStringA(section, key, "", buffer, sizeof(buffer), path.c_str());
    return buffer;
}

inline bool WriteText(const std::wstring& path, const char* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text, static_cast<DWORD>(std::char_traits<char>::length(text)), &written, nullptr);
    CloseHandle(file);
    return ok;
}

// The bytes of a file; empty when it cannot be read.
inline std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// A new folder in the temporary folder, named for the test and this process.
inline std::wstring TestFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + name + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// A server configuration with one domain and no accounts.
inline bool WriteFtpConfiguration(const std::wstring& ini) {
    return WriteText(ini, "[GLOBAL]\r\nVersion=6.4.0.6\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Test|1|0\r\n[Domain1]\r\n");
}

// A call through IDispatch with positional arguments, given in interface order.
inline HRESULT InvokeByName(IDispatch* object, const wchar_t* name, VARIANT* args_in_order, UINT count,
                            VARIANT* result) {
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

}  // namespace client
