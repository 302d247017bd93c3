// A machine folder of its own for one test, so that each starts with an empty
// metabase; the computer is named WEBHOST.
#pragma once

#include <cstdlib>
#include <string>

#include "tests/test_support.h"

namespace quorvel::test {

class FreshMachine {
public:
    FreshMachine() {
        const char* old = std::getenv("QUORVEL_MACHINE");
        saved_ = old != nullptr ? old : "";
        WriteBytes(dir_ / "machine.ini", "[Machine]\r\nComputerName=WEBHOST\r\nCodePage=936\r\n");
        setenv("QUORVEL_MACHINE", dir_.path().c_str(), 1);
    }
    ~FreshMachine() { setenv("QUORVEL_MACHINE", saved_.c_str(), 1); }
    FreshMachine(const FreshMachine&) = delete;
    FreshMachine& operator=(const FreshMachine&) = delete;
    const std::filesystem::path& path() const { return dir_.path(); }

private:
    TempDir dir_;
    std::string saved_;
};

}  // namespace quorvel::test
