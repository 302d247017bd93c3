// profile_runner_system SCRIPT INI_PATH: profile_runner over the system's own
// profile functions instead of the component's, to compare the two.
#include <cstdio>
#include <iostream>
#include <string>

#include "system_profile_calls.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: profile_runner_system SCRIPT INI_PATH\n";
        return 64;
    }
    std::string script;
    if (!quorvel::test::ReadWhole(argv[1], script)) {
        std::cerr << "profile_runner_system: cannot read " << argv[1] << "\n";
        return 66;
    }
    quorvel::test::SystemCalls calls(argv[2]);
    const std::string out = quorvel::test::RunProfileScript(script, argv[2], calls);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
