// IIS web sites through the directory's IIS provider.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::web {

// Runs one site action (ADD, EDIT, DEL, START, STOP, ISSEARCH) on the site
// whose server comment is WebSiteName and returns its result code (0 done,
// 1 no computer name, 2 exists, 3 missing, 4 a step failed).
// Arguments are taken by value: a method never changes its caller's strings.
std::int32_t PostWebSit(std::u16string WebAction, std::u16string WebSiteName, std::u16string WebFilesPath,
                        std::u16string WebDefaultDoc, std::u16string WebScriptMaps,
                        std::u16string WebServerbindings, std::u16string WebAccess, std::u16string WebLogPath,
                        std::int32_t WebLinks, std::int32_t WebTimes, std::int32_t WebWidth, std::int32_t WebCPU,
                        std::u16string IUSRName, std::u16string IUSRPass);

}  // namespace quorvel::web
