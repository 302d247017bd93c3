// profile_runner SCRIPT INI_PATH: runs a script of profile calls (read, write,
// section, dump; TAB-separated, escaped fields, <NULL> for a null pointer)
// against one file through the component's profile functions and prints one
// line per call.
#include <cstdio>
#include <iostream>
#include <string>

#include "profile_script.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: profile_runner SCRIPT INI_PATH\n";
        return 64;
    }
    std::string script;
    if (!quorvel::test::ReadWhole(argv[1], script)) {
        std::cerr << "profile_runner: cannot read " << argv[1] << "\n";
        return 66;
    }
    quorvel::test::EngineCalls calls(argv[2]);
    const std::string out = quorvel::test::RunProfileScript(script, argv[2], calls);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
