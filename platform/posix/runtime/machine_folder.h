// The folder that holds the state of "the Windows machine" on POSIX: taken
// from QUORVEL_MACHINE, else $XDG_DATA_HOME/quorvel/machine, else
// ~/.local/share/quorvel/machine. Created with a default machine.ini on first
// use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvel::posix {

// Throws nothing; an empty path when the folder can neither be found nor made.
std::filesystem::path MachineFolder();
// Where the environment puts the folder, without making it; empty when it
// names none (no QUORVEL_MACHINE, XDG_DATA_HOME or HOME).
std::filesystem::path LocateMachineFolder();
// The same as a string; cheap while the environment names the folder
// prepared last (every bind of an outside object asks for it).
std::string MachineFolderString();
// A number that changes whenever MachineFolder() comes to name another
// folder; 0 while there is none. Cheap enough to ask on every bind, so that
// what is kept per folder (the file names of its stores) is made only once.
std::uint64_t MachineFolderGeneration();

// The computer name a machine has unless machine.ini says otherwise: the host
// name's first label, upper-cased, cut to 15 characters.
std::string DefaultComputerName();

}  // namespace quorvel::posix
