// Folder permissions, changed by the system's ACL tool.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::permissions {

// Grants (ADD) or revokes (DEL) NtUser's permission Owner on FolderName and
// everything below it, by starting "cmd /c echo y| CACLS ..." without
// waiting. 0 when it started, 1 when it could not be started or an argument
// would change what the command interpreter runs, 4 when a step failed.
std::int32_t PostCACLS(std::u16string Action, std::u16string FolderName, std::u16string NtUser,
                       std::u16string Owner);

}  // namespace quorvel::permissions
