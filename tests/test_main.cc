#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

// Every test process gets a machine folder of its own, so that tests never
// touch the user's machine and never see each other's.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/quorvel-test-machine-XXXXXX";
    if (const char* dir = mkdtemp(pattern)) {
        setenv("QUORVEL_MACHINE", dir, 1);
    }
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(pattern, ec);
    return rc;
}
