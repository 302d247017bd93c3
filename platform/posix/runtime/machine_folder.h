// The folder that holds the state of "the Windows machine" on POSIX: taken
// from QUORVEL_MACHINE, else $XDG_DATA_HOME/quorvel/machine, else
// ~/.local/share/quorvel/machine. Created with a default machine.ini on first
// use.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel::posix {

// Throws nothing; an empty path when the folder can neither be found nor made.
std::filesystem::path MachineFolder();
// The same as a string; cheap while the environment names the folder
// prepared last (every bind of an outside object asks for it).
std::string MachineFolderString();

// The computer name a machine has unless machine.ini says otherwise: the host
// name's first label, upper-cased, cut to 15 characters.
std::string DefaultComputerName();

}  // namespace quorvel::posix
