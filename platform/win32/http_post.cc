// HttpPost: the WinINet calls, in their order; the handles close in reverse.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/http.h"
#include "platform/win32/handles.h"

namespace quorvel::platform {
namespace {

using InternetHandle = win32::UniqueHandle<HINTERNET, &InternetCloseHandle>;

HttpPostResult NotSent() { return {false, static_cast<std::uint32_t>(GetLastError())}; }

}  // namespace

HttpPostResult HttpPost(std::string_view server, std::string_view object, std::uint16_t port,
                        std::string_view headers, std::string_view body) {
    if (headers.size() > MAXDWORD || body.size() > MAXDWORD) return {false, ERROR_INVALID_PARAMETER};
    const std::string zserver(server), zobject(object), zheaders(headers);
    std::string zbody(body);

    InternetHandle internet(InternetOpenA("http generic", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!internet.valid()) return NotSent();
    InternetHandle connection(InternetConnectA(internet.get(), zserver.c_str(), port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.valid()) return NotSent();
    InternetHandle request(HttpOpenRequestA(connection.get(), "POST", zobject.c_str(), "HTTP/1.1", nullptr, nullptr,
                                            INTERNET_FLAG_RELOAD, 0));
    if (!request.valid()) return NotSent();
    if (!HttpSendRequestA(request.get(), zheaders.c_str(), static_cast<DWORD>(zheaders.size()), zbody.data(),
                          static_cast<DWORD>(zbody.size())))
        return NotSent();
    return {true, 0};
}

}  // namespace quorvel::platform
