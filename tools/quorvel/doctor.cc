// quorvel doctor: the machine's servers checked, and repaired on request
// (doctor/doctor.h).
#include <cstdio>

#include "doctor/doctor.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {

int RunDoctor(const Args& args) {
    const doctor::Outcome outcome = doctor::Run(args, "quorvel [--machine DIR] doctor");
    std::fwrite(outcome.out.data(), 1, outcome.out.size(), stdout);
    std::fwrite(outcome.err.data(), 1, outcome.err.size(), stderr);
    return outcome.exit;
}

}  // namespace quorvel::cli
