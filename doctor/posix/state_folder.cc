#include "doctor/checks.h"
#include "platform/files.h"
#include "platform/text.h"

namespace quorvel::doctor {

// The machine's own folder for them, whichever library is registered.
std::u16string ComponentStateFolder() { return platform::FromAnsi(platform::StateFolder()); }

}  // namespace quorvel::doctor
