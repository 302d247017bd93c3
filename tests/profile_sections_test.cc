// Sections the engine has not read line by line yet must behave exactly like
// the ones it has: found by the same header rule, written back byte for byte,
// and safe to move or erase.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "profile/engine/profile_engine.h"

namespace quorvel::profile {
namespace {

using namespace std::string_literals;
constexpr ProfileEngine::Name kNull = std::nullopt;

std::string Read(const ProfileEngine& e, ProfileEngine::Name section, ProfileEngine::Name key) {
    std::string out;
    e.GetString(section, key, 256, out);
    return out;
}

TEST(ProfileSections, HeadersAreFoundByTheLineRule) {
    // Blanks (SUB included) may precede '['; a ']' that is a trail byte
    // closes nothing, so that line belongs to the section before it.
    const auto e = ProfileEngine::Parse("[a]\r\n[\x81]\r\nk=1\r\n\x1a\t[b]\nk=2\rx[c]\r\n[\x81]]\r\nk=3");
    EXPECT_EQ(Read(e, kNull, kNull), "a\0b\0\x81]\0"s);
    EXPECT_EQ(Read(e, "a", kNull), "k\0"s);
    EXPECT_EQ(Read(e, "a", "k"), "1");
    EXPECT_EQ(Read(e, "b", "k"), "2");
    EXPECT_EQ(Read(e, "\x81]", "k"), "3");
    EXPECT_EQ(e.Serialize(), "[a]\r\n[\x81]\r\nk=1\r\n\x1a\t[b]\nk=2\rx[c]\r\n[\x81]]\r\nk=3");
}

TEST(ProfileSections, UntouchedSectionsKeepTheirBytes) {
    const std::string start = "junk\n[a]\nk=1\r[b]\r\n\r\n;c\r\nx = 2 ";
    // The unterminated last line gets CR LF only when a line follows it.
    ProfileEngine e = ProfileEngine::Parse(start);
    EXPECT_FALSE(e.WriteString("a", "k", "1").changed);
    EXPECT_EQ(e.Serialize(), start);
    EXPECT_TRUE(e.WriteString("c", "k", "v").changed);
    EXPECT_EQ(e.Serialize(), "junk\n[a]\nk=1\r[b]\r\n\r\n;c\r\nx = 2 \r\n[c]\r\nk=v\r\n");

    ProfileEngine last = ProfileEngine::Parse("[a]\r\nk=1\r\n[b]");
    EXPECT_TRUE(last.WriteString("b", "k", "2").changed);
    EXPECT_TRUE(last.WriteString("a", "j", "3").changed);
    EXPECT_EQ(last.Serialize(), "[a]\r\nk=1\r\nj=3\r\n[b]\r\nk=2\r\n");
}

TEST(ProfileSections, ErasingTheFirstOfDuplicatesLeavesTheNext) {
    ProfileEngine e = ProfileEngine::Parse("[Dup]\r\nk=1\r\n[x]\r\n[DUP]\r\nk=2\r\n[dup]\r\nk=4\r\n");
    EXPECT_TRUE(e.DeleteSection("dup").changed);
    EXPECT_EQ(Read(e, "Dup", "k"), "2");
    EXPECT_TRUE(e.WriteString("dUP", "k", "3").changed);
    EXPECT_TRUE(e.DeleteSection("DUP").changed);
    EXPECT_EQ(Read(e, "dup", "k"), "4");
    EXPECT_TRUE(e.WriteSection("Dup", kNull).changed);
    EXPECT_FALSE(e.DeleteSection("dup").changed);
    EXPECT_EQ(Read(e, kNull, kNull), "x\0"s);
    EXPECT_EQ(e.Serialize(), "[x]\r\n");
}

TEST(ProfileSections, AMovedEngineStillReadsItsSource) {
    ProfileEngine moved;
    {
        ProfileEngine e = ProfileEngine::Parse("[a]\r\nk=1\r\n[b]\r\nk=2\r\n"s);
        EXPECT_EQ(Read(e, "a", "k"), "1");
        moved = std::move(e);
    }
    EXPECT_EQ(Read(moved, "b", "k"), "2");
    EXPECT_TRUE(moved.WriteString("a", "k", "x\r\n[b]").changed);  // read again from new bytes
    ProfileEngine again(std::move(moved));
    EXPECT_EQ(Read(again, "a", "k"), "x");
    EXPECT_EQ(again.Serialize(), "[a]\r\nk=x\r\n[b]\r\n[b]\r\nk=2\r\n");
}

}  // namespace
}  // namespace quorvel::profile
