#include <optional>
#include <string>

#include "doctor/checks.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::doctor {

// The component keeps them beside itself: the folder of the registered
// quorvel.dll, wherever this program was started from.
std::u16string ComponentStateFolder() {
    const std::optional<std::string> clsid = platform::GetClassesRootValue("Quorvel.SiteManage\\CLSID", "");
    if (clsid) {
        const std::optional<std::string> server =
            platform::GetClassesRootValue("CLSID\\" + *clsid + "\\InprocServer32", "");
        if (server) {
            const size_t slash = server->find_last_of("\\/");
            if (slash != std::string::npos) return platform::FromUtf8(server->substr(0, slash));
        }
    }
    return platform::FromAnsi(platform::StateFolder());
}

}  // namespace quorvel::doctor
