// Serv-U style FTP accounts kept in ServUDaemon.ini.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::ftp {

// Runs one account action on CFile\ServUDaemon.ini and returns its result
// code (0 done, 1 no configuration file, 2 exists, 3 missing, 4 a step failed).
// Arguments are taken by value: a method never changes its caller's strings.
std::int32_t PostFtpSit(std::u16string FtpAction, std::u16string FtpUser, std::u16string CFile,
                        std::u16string FtpPass, std::u16string HomeDir, std::u16string Access,
                        std::int32_t MaxNrUsers, std::int32_t DiskQuota, std::int32_t FtpLdle,
                        std::int32_t SpeedLimitUp, std::int32_t SpeedLimitDown);

}  // namespace quorvel::ftp
