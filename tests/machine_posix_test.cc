// The machine folder's settings as the component sees them.
#include <gtest/gtest.h>

#include "base/ascii.h"
#include "platform/posix/runtime/machine_folder.h"
#include "platform/text.h"
#include "support/computer_name.h"
#include "test_support.h"

namespace quorvel {
namespace {

class MachineSettings : public testing::Test {
protected:
    void SetUp() override { saved_ = test::ReadBytes(Ini()); }
    void TearDown() override { test::WriteBytes(Ini(), saved_); }
    static std::filesystem::path Ini() { return posix::MachineFolder() / "machine.ini"; }
    static void Set(const std::string& machine_section) {
        test::WriteBytes(Ini(), "[Machine]\r\n" + machine_section);
    }
    std::string saved_;
};

TEST_F(MachineSettings, ComputerNameComesFromTheSettingsOrTheHost) {
    Set("ComputerName=WEBHOST01\r\n");
    EXPECT_EQ(GetLocalComputerName(), u"WEBHOST01");
    // Present but empty: the name is not available.
    Set("ComputerName=\r\n");
    EXPECT_EQ(GetLocalComputerName(), u"(未知)");
    // Absent: the host's name, as NetBIOS has it.
    Set("CodePage=936\r\n");
    const std::u16string name = GetLocalComputerName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 15u);
    EXPECT_EQ(name, base::ToUpperAscii(name));
}

TEST_F(MachineSettings, TheCodePageDecidesTheAnsiBytes) {
    Set("CodePage=936\r\n");
    EXPECT_EQ(platform::ToAnsi(u"用户"), "\xd3\xc3\xbb\xa7");
    EXPECT_EQ(platform::ToAnsi(u"€ ☃"), "\x80 ?");  // what the code page lacks becomes '?'
    EXPECT_EQ(platform::FromAnsi("\xd3\xc3\xbb\xa7"), u"用户");
    Set("CodePage=65001\r\n");
    EXPECT_EQ(platform::ToAnsi(u"用户"), "\xe7\x94\xa8\xe6\x88\xb7");
}

}  // namespace
}  // namespace quorvel
