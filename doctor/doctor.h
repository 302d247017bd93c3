// quorvel doctor: checks, read-only unless told to repair, everything the
// methods maintain (the FTP server's accounts, the mail server's files, the
// IIS sites, the local groups, the component's own leftovers) and reports
// each finding. The POSIX host's verb and the Windows console program
// quorvel-doctor.exe both run it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::doctor {

struct Outcome {
    int exit = 0;     // see report.h
    std::string out;  // for standard output, UTF-8
    std::string err;  // for standard error, UTF-8
};

// `args` are the words after the command (UTF-8); `command` is how the
// usage names it ("quorvel [--machine DIR] doctor").
Outcome Run(const std::vector<std::string>& args, std::string_view command);

}  // namespace quorvel::doctor
