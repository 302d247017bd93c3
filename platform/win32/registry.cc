#include "platform/registry.h"

#include <windows.h>

#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/module_path.h"
#include "platform/win32/wide.h"

namespace quorvel::platform {
namespace {

std::wstring FromUtf8(std::string_view text) {
    const std::u16string wide = win32::FromCodePage(CP_UTF8, text);
    return std::wstring(wide.begin(), wide.end());
}

std::string ToUtf8(std::wstring_view text) {
    return win32::ToCodePage(CP_UTF8, std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

}  // namespace

bool SetClassesRootValue(std::string_view key, std::string_view name, std::string_view value) {
    if (key.empty()) return false;
    win32::RegKey handle;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, FromUtf8(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, handle.out(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring wname = FromUtf8(name);
    const std::wstring wvalue = FromUtf8(value);
    const auto bytes = static_cast<DWORD>((wvalue.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(handle.get(), name.empty() ? nullptr : wname.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(wvalue.c_str()), bytes) == ERROR_SUCCESS;
}

std::optional<std::string> GetClassesRootValue(std::string_view key, std::string_view name) {
    const std::wstring wkey = FromUtf8(key);
    const std::wstring wname = FromUtf8(name);
    const wchar_t* value_name = name.empty() ? nullptr : wname.c_str();
    // The value may change size between the two calls; try again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD bytes = 0;
        LSTATUS status = RegGetValueW(HKEY_CLASSES_ROOT, wkey.c_str(), value_name, RRF_RT_REG_SZ, nullptr, nullptr,
                                      &bytes);
        if (status != ERROR_SUCCESS) return std::nullopt;
        std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CLASSES_ROOT, wkey.c_str(), value_name, RRF_RT_REG_SZ, nullptr, buffer.data(),
                              &bytes);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return std::nullopt;
        return ToUtf8(std::wstring_view(buffer.data()));
    }
    return std::nullopt;
}

bool DeleteClassesRootTree(std::string_view key) {
    // An empty key would name HKEY_CLASSES_ROOT itself.
    if (key.empty()) return false;
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, FromUtf8(key).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// The system's registry is read anew by every use.
void CheckClassesRootAgain() {}

std::string ModulePathForRegistry() { return ToUtf8(win32::ThisModulePath()); }

const char* TypeLibPlatformKey() {
#if defined(_WIN64)
    return "win64";
#else
    return "win32";
#endif
}

}  // namespace quorvel::platform
