// Runs a program to its end and collects what it wrote, for the tests that
// drive the command-line programs.
#pragma once

#include <string>
#include <vector>

namespace quorvel::test {

struct ProcessResult {
    int exit_code = -1;  // -1 when it could not be started or did not exit normally
    std::string out;
    std::string err;
};

// argv[0] is the program's path; no shell is involved. The child inherits
// the environment with `environment` ("NAME=VALUE") added over it.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});

}  // namespace quorvel::test
