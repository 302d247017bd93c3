// The folder that holds the state of "the Windows machine" on POSIX: taken
// from QUORVEL_MACHINE, else $XDG_DATA_HOME/quorvel/machine, else
// ~/.local/share/quorvel/machine. Created with a default machine.ini on first
// use.
#pragma once

#include <filesystem>

namespace quorvel::posix {

// Throws nothing; an empty path when the folder can neither be found nor made.
std::filesystem::path MachineFolder();

}  // namespace quorvel::posix
