// Where the component keeps its state and its logs on a Windows server, and
// who the doctor runs as.
#include <windows.h>

#include <string>

#include "doctor/audit_trail.h"
#include "doctor/checks.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/handles.h"

namespace quorvel::doctor {

// The component keeps both beside itself: the folder of the registered
// quorvel.dll, wherever this program was started from.
std::u16string ComponentStateFolder() {
    const std::u16string folder = RegisteredComponentFolder();
    return folder.empty() ? platform::FromAnsi(platform::StateFolder()) : folder;
}

std::u16string ComponentLogFolder() { return ComponentStateFolder(); }

std::uint32_t ProcessNumber() { return GetCurrentProcessId(); }

// DOMAIN\name of the process's account.
std::u16string ProcessAccount() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    const win32::Handle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    wchar_t name[256], domain[256];
    DWORD name_size = 256, domain_size = 256;
    SID_NAME_USE use{};
    if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, name, &name_size, domain,
                           &domain_size, &use))
        return {};
    std::u16string account(reinterpret_cast<const char16_t*>(domain), domain_size);
    if (!account.empty()) account += u'\\';
    return account.append(reinterpret_cast<const char16_t*>(name), name_size);
}

}  // namespace quorvel::doctor
