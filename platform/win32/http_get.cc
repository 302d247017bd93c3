// HttpGet over WinINet: the open, URL-open, read and close calls with the
// agent, access type and reload flag the component has always used.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/http.h"
#include "platform/win32/handles.h"

namespace quorvel::platform {
namespace {

using InternetHandle = win32::UniqueHandle<HINTERNET, &InternetCloseHandle>;

}  // namespace

bool HttpGet(std::string_view address, const HttpBodySink& sink) {
    const InternetHandle internet(InternetOpenA("http generic", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (internet.get() == nullptr) return false;
    const std::string url(address);
    // Declared after the Internet handle, so closed before it.
    const InternetHandle page(InternetOpenUrlA(internet.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    if (page.get() == nullptr) return false;
    char buffer[kHttpReadSize];
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(page.get(), buffer, sizeof(buffer), &read) || read == 0) break;
        if (!sink(std::string_view(buffer, read))) break;
    }
    return true;
}

}  // namespace quorvel::platform
