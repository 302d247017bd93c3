// The component's profile functions against the system's own, on files in the
// form the FTP and mail servers write (one key per line, CR LF, no padding, no
// blank lines): every result and the final bytes must agree. Also the
// component's own cases, which hold in both builds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../profile_script.h"
#include "../test_support.h"
#include "system_profile_calls.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

fs::path SourceFolder(const char* name) { return fs::path(QUORVEL_SOURCE_DIR) / "tests" / name; }

TEST(ProfileConformance, TheComponentAgreesWithTheSystemOnServerFiles) {
    int ran = 0;
    for (const auto& entry : fs::directory_iterator(SourceFolder("profile_conformance"))) {
        if (entry.path().extension() != ".script") continue;
        const fs::path start = fs::path(entry.path()).replace_extension(".ini");
        TempDir dir;
        const std::string ours = (dir / "ours.ini").string(), system = (dir / "system.ini").string();
        if (fs::exists(start)) {
            fs::copy_file(start, ours);
            fs::copy_file(start, system);
        }
        std::string script;
        ASSERT_TRUE(ReadWhole(entry.path().string(), script));
        EngineCalls engine(ours);
        SystemCalls reference(system);
        const std::string got = RunProfileScript(script, ours, engine);
        const std::string want = RunProfileScript(script, system, reference);
        EXPECT_EQ(got, want) << entry.path().filename();
        EXPECT_EQ(ReadBytes(ours), ReadBytes(system)) << entry.path().filename();
        ++ran;
    }
    EXPECT_GE(ran, 4);
}

TEST(ProfileConformance, TheComponentsOwnCasesHoldHereToo) {
    int ran = 0;
    for (const auto& entry : fs::directory_iterator(SourceFolder("profile_cases"))) {
        if (entry.path().extension() != ".script") continue;
        const fs::path base = fs::path(entry.path()).replace_extension();
        TempDir dir;
        const std::string ini = (dir / (base.filename().string() + ".ini")).string();
        if (fs::exists(base.string() + ".ini")) fs::copy_file(base.string() + ".ini", ini);
        std::string script, want;
        ASSERT_TRUE(ReadWhole(entry.path().string(), script));
        ASSERT_TRUE(ReadWhole(base.string() + ".expected", want));
        EngineCalls engine(ini);
        const std::string got = RunProfileScript(script, ini, engine);
        EXPECT_TRUE(OutputMatches(got, want)) << base.filename() << "\n--- got\n" << got << "--- want\n" << want;
        ++ran;
    }
    EXPECT_GE(ran, 5);
}

}  // namespace
}  // namespace quorvel::test
