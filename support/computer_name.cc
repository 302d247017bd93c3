#include "support/computer_name.h"

#include "platform/system.h"
#include "platform/text.h"

namespace quorvel {

std::u16string GetLocalComputerName() {
    std::string name;
    if (!platform::GetComputerName(name)) return kUnknownComputerName;
    // The name ends at its first zero character, as in a fixed buffer.
    name = name.substr(0, name.find('\0'));
    if (name.size() > 255) name.resize(255);
    return platform::FromAnsi(name);
}

}  // namespace quorvel
