// An installed prefix as a user gets it from `cmake --install`: the host and
// the library it finds there, with no path into the build folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "quorvel_version.h"
#include "run_process.h"
#include "test_support.h"

namespace {

using quorvel::test::ProcessResult;
using quorvel::test::RunProcess;
using quorvel::test::ReadBytes;
using quorvel::test::TempDir;
using quorvel::test::WriteBytes;

int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

TEST(Install, PrefixWorksWithoutTheBuildFolder) {
    TempDir prefix;
    TempDir machine;
    ProcessResult r = RunProcess(
        {QUORVEL_CMAKE, "--install", QUORVEL_BINARY_DIR, "--prefix", prefix.path().string(), "--strip"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const std::string host = (prefix / "bin/quorvel").string();
    const std::string library = (prefix.path() / QUORVEL_INSTALL_LIBDIR / "libquorvel.so").string();
    ASSERT_TRUE(std::filesystem::is_regular_file(host));
    ASSERT_TRUE(std::filesystem::is_regular_file(library));

    r = RunProcess({host, "--version"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "quorvel " QUORVEL_VERSION "\nlibrary " + library + ": " QUORVEL_VERSION "\n");

    r = RunProcess({host, "methods"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(CountLines(r.out), 11) << r.out;

    // Registered without naming a library: the installed one.
    r = RunProcess({host, "--machine", machine.path().string(), "regsvr"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(library), std::string::npos) << r.out;

    // A call that fails and logs: the log lands beside the installed library.
    const std::string missing = (machine / "no-such-servu").string();
    r = RunProcess({host, "--machine", machine.path().string(), "call", "PostFtpSit", "ADD", "bob", missing});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");
    EXPECT_NE(ReadBytes(prefix.path() / QUORVEL_INSTALL_LIBDIR / "DllErr.log").find("PostFtpSit"), std::string::npos);

    // The fresh machine's registry holds the stand-ins installed beside the library.
    ASSERT_TRUE(std::filesystem::is_regular_file(prefix.path() / QUORVEL_INSTALL_LIBDIR / "libquorvel_standins.so"));
    r = RunProcess({host, "--machine", machine.path().string(), "adsi", "get", "PROBE://installed", "Name"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "installed\n");

    // The command interpreter and the ACL tool where they shadow no system
    // command, and where the installed component finds them: PostCACLS starts its line.
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix / "libexec/quorvel/cmd"));
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix / "libexec/quorvel/cacls"));
    EXPECT_FALSE(std::filesystem::exists(prefix / "bin/cmd"));
    EXPECT_FALSE(std::filesystem::exists(prefix / "bin/cacls"));
    r = RunProcess({host, "--machine", machine.path().string(), "call", "PostCACLS", "ADD", "D:\\web", "nobody", "R"});
    EXPECT_EQ(r.out, "0\n") << r.err;

    // Stripped binaries; the reference, the man page and the notes beside them.
    for (const std::filesystem::path& binary : {std::filesystem::path(host), std::filesystem::path(library)}) {
        EXPECT_EQ(ReadBytes(binary).find(".debug_info"), std::string::npos) << binary;
    }
    EXPECT_NE(ReadBytes(QUORVEL_LIBRARY_PATH).find(".debug_info"), std::string::npos) << "the build keeps them";
    for (const char* file : {"methods.txt", "methods.md", "host.md", "README.md", "CHANGELOG.md", "copyright"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(prefix / "share/doc/quorvel" / file)) << file;
    }
    const std::string man = ReadBytes(prefix / "share/man/man1/quorvel.1");
    EXPECT_EQ(man.rfind(".TH QUORVEL 1", 0), 0u);
    EXPECT_NE(man.find(".SS PostWebSit"), std::string::npos);
    EXPECT_NE(man.find(".SH EXIT STATUS"), std::string::npos);
    r = RunProcess({host, "help", "BackupSit"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("WARNING: RESTORE replaces the live configuration"), std::string::npos) << r.out;
    r = RunProcess({host, "--help"});
    EXPECT_NE(r.out.find((prefix / "share/doc/quorvel/methods.md").string()), std::string::npos) << r.out;

    // The installed example machine.
    const std::string example = (prefix / "example").string();
    r = RunProcess({host, "init", "--example", example});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunProcess({host, "--machine", example, "call", "PostFtpSit", "ISUSER", "webmaster", "D:\\Serv-U"});
    EXPECT_EQ(r.out, "0\n") << r.err;

    // A prefix without its library names where it looked.
    std::filesystem::remove(library);
    r = RunProcess({host, "--machine", machine.path().string(), "regsvr"});
    EXPECT_EQ(r.exit_code, 69);
    EXPECT_NE(r.err.find(library), std::string::npos) << r.err;
}

TEST(Install, VersionIsReadFromTheLibraryFile) {
    // The build tree's host reports the library built beside it.
    ProcessResult r = RunProcess({QUORVEL_HOST_PATH, "--version"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "quorvel " QUORVEL_VERSION "\nlibrary " QUORVEL_LIBRARY_PATH ": " QUORVEL_VERSION "\n");
    EXPECT_NE(ReadBytes(QUORVEL_LIBRARY_PATH).find(QUORVEL_VERSION_MARK QUORVEL_VERSION), std::string::npos);

    // A file that is not ours carries no version; the host says so, and still
    // answers with its own.
    TempDir bin;
    std::filesystem::copy_file(QUORVEL_HOST_PATH, bin / "quorvel");
    WriteBytes(bin / "libquorvel.so", "not a library");
    r = RunProcess({(bin / "quorvel").string(), "--version"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "quorvel " QUORVEL_VERSION "\nlibrary " + (bin / "libquorvel.so").string() +
                         ": not found or not a quorvel library\n");
}

}  // namespace
