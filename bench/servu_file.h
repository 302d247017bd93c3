// The FTP server's configuration file as the benchmarks use it: a domain's
// user list, then about fifteen keys for every account.
#pragma once

#include <string>

namespace quorvel::bench {

inline std::string ServUFile(int accounts) {
    std::string out = "[GLOBAL]\r\nVersion=6.4.0.6\r\nProcessID=2140\r\n[DOMAINS]\r\nDomain1=0.0.0.0||21|Bench|1|0\r\n";
    out += "[Domain1]\r\n";
    for (int k = 1; k <= accounts; ++k) out += "User" + std::to_string(k) + "=user" + std::to_string(k) + "|1|0\r\n";
    for (int k = 1; k <= accounts; ++k) {
        const std::string u = "user" + std::to_string(k);
        out += "[USER=" + u + "|1]\r\nPassword=vk5D44A032652974C3E53644945A95B126\r\nHomeDir=D:\\ftp\\" + u +
               "\r\nRelPaths=1\r\nAccess1=D:\\ftp\\" + u + "|RWAMLCDP\r\nAccess2=D:\\logs\\" + u +
               "|RL\r\nDiskQuota=1|512000|0\r\nMaxNrUsers=5\r\nSpeedLimitUp=65536\r\nSpeedLimitDown=131072\r\n"
               "SessionTimeOut=600\r\nTimeOut=600\r\nEnable=1\r\nNote1=customer " +
               u + "\r\nTimeOutSec=0\r\nQuotaCurrent=0\r\n";
    }
    return out;
}

}  // namespace quorvel::bench
