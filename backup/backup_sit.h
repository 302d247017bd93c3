// Named backups of the IIS metabase, the FTP server's ServUDaemon.ini and the
// mail server's two account files.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::backup {

// Saves ("BACKUP"), restores ("RESTORE") or deletes ("DEL") the backup named
// Bakname of one server's configuration (Edition 0 IIS, 1 FTP, 2 mail) and
// returns the result code (0 done, 1 no computer name or a refused backup
// name, 2 server software missing, 3 no backup folder, 4 a step failed).
std::int32_t BackupSit(std::u16string Action, std::int32_t Edition, std::u16string Bakname, std::u16string SetPath,
                       std::u16string BakPath);

}  // namespace quorvel::backup
