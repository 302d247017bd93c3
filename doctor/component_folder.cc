#include <optional>
#include <string>

#include "doctor/checks.h"
#include "platform/registry.h"
#include "platform/utf8.h"

namespace quorvel::doctor {

std::u16string RegisteredComponentFolder() {
    const std::optional<std::string> clsid = platform::GetClassesRootValue("Quorvel.SiteManage\\CLSID", "");
    if (!clsid) return {};
    const std::optional<std::string> server = platform::GetClassesRootValue("CLSID\\" + *clsid + "\\InprocServer32", "");
    if (!server) return {};
    const size_t slash = server->find_last_of("\\/");
    if (slash == std::string::npos) return {};
    return platform::FromUtf8(server->substr(0, slash));
}

}  // namespace quorvel::doctor
