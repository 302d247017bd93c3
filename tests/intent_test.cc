// Intent records: their text, the digest that stands for a secret, and the
// repair of a record that a dead call left, in both builds.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "component/frame/frame.h"
#include "component/frame/intent.h"
#include "platform/files.h"
#include "test_support.h"

namespace quorvel {
namespace {

using test::LogWatch;
using test::MessageOf;

constexpr char kMethod[] = "IntentTest";
constexpr char16_t kRepaired[] = u"，错误源：测试 ，错误描述：已完成";

std::string RecordPath() { return platform::StateFolder() + "\\" + kMethod + ".intent"; }

class Intent : public testing::Test {
protected:
    void SetUp() override { platform::DeleteFileForced(RecordPath()); }
    void TearDown() override { platform::DeleteFileForced(RecordPath()); }

    // A call of the test method whose first act is the repair.
    static std::optional<IntentRecord> CallRepairing(std::optional<std::u16string> answer, bool& succeeded) {
        std::optional<IntentRecord> seen;
        CallFrame frame(u"IntentTest", ErrorMode::ContinueOnError);
        MethodIntent intent(kMethod);
        frame.Run([&] {
            succeeded = RepairLeftover(frame, intent, [&](const IntentRecord& left) {
                seen = left;
                return answer;
            });
            return frame.Finish();
        });
        return seen;
    }
};

TEST_F(Intent, RecordsReadBackWhatWasWrittenInReadableText) {
    IntentRecord record;
    record.Set("Action", u"ADD").Set("Site", -7).Set("Name", u"站点 a=b\\c\r\nnext");
    const std::string text = record.Serialize("PostWebSit");
    EXPECT_EQ(text.rfind("[PostWebSit]\r\nAction=ADD\r\nSite=-7\r\nName=", 0), 0u) << text;
    EXPECT_EQ(text.find("\r\nnext"), std::string::npos);  // one line per value

    const IntentRecord back = IntentRecord::Parse(text);
    EXPECT_EQ(back.Text("Action"), u"ADD");
    EXPECT_EQ(back.Number("Site"), -7);
    EXPECT_EQ(back.Text("Name"), u"站点 a=b\\c\r\nnext");
    EXPECT_EQ(back.Text("Missing"), u"");
    EXPECT_EQ(back.Number("Name"), std::nullopt);

    record.Set("Action", u"EDIT");  // a key set again keeps its place
    EXPECT_EQ(IntentRecord::Parse(record.Serialize("X")).Text("Action"), u"EDIT");
    EXPECT_EQ(IntentRecord::Parse("not a record").Text("Action"), u"");
    EXPECT_EQ(IntentRecord::Parse("[X]\r\nno equals sign\r\n").Text("Action"), u"");
}

TEST_F(Intent, ADigestTellsTheSecretAndHoldsNoneOfIt) {
    const std::u16string digest = SecretDigest(u"Sesame-4711");
    EXPECT_TRUE(MatchesDigest(u"Sesame-4711", digest));
    EXPECT_FALSE(MatchesDigest(u"Sesame-4712", digest));
    EXPECT_FALSE(MatchesDigest(u"", digest));
    EXPECT_EQ(digest.find(u"Sesame"), std::u16string::npos);
    EXPECT_NE(SecretDigest(u"Sesame-4711"), digest);  // salted
    EXPECT_TRUE(MatchesDigest(u"", SecretDigest(u"")));
    EXPECT_FALSE(MatchesDigest(u"x", u"no digest"));
}

TEST_F(Intent, WithoutARecordNothingIsRepaired) {
    LogWatch log;
    bool succeeded = false;
    EXPECT_EQ(CallRepairing(kRepaired, succeeded), std::nullopt);
    EXPECT_TRUE(succeeded);
    EXPECT_TRUE(log.NewLines().empty());
}

TEST_F(Intent, ALeftRecordIsRepairedOnceWithOneLine) {
    {
        CallFrame frame(u"IntentTest", ErrorMode::ContinueOnError);
        MethodIntent intent(kMethod);
        frame.Step([&] { intent.Lock(); });
        IntentRecord record;
        ASSERT_TRUE(BeginIntent(frame, intent, record.Set("Action", u"ADD").Set("Name", u"甲")));
        // The call dies here: its record stays.
    }
    ASSERT_TRUE(platform::FileExists(RecordPath()));

    LogWatch log;
    bool succeeded = false;
    const auto seen = CallRepairing(kRepaired, succeeded);
    EXPECT_TRUE(succeeded);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->Text("Name"), u"甲");
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：5，错误源：测试 ，错误描述：已完成");
    EXPECT_NE(lines[0].find("IntentTest函数"), std::string::npos);
    EXPECT_FALSE(platform::FileExists(RecordPath()));

    EXPECT_EQ(CallRepairing(kRepaired, succeeded), std::nullopt);  // gone for good
}

TEST_F(Intent, ARepairThatCannotTellKeepsTheRecord) {
    {
        CallFrame frame(u"IntentTest", ErrorMode::ContinueOnError);
        MethodIntent intent(kMethod);
        frame.Step([&] { intent.Lock(); });
        ASSERT_TRUE(BeginIntent(frame, intent, IntentRecord().Set("Action", u"EDIT")));
    }
    bool succeeded = true;
    EXPECT_TRUE(CallRepairing(std::nullopt, succeeded).has_value());
    EXPECT_FALSE(succeeded);
    EXPECT_TRUE(platform::FileExists(RecordPath()));
    EXPECT_TRUE(CallRepairing(kRepaired, succeeded).has_value());
    EXPECT_TRUE(succeeded);
    EXPECT_FALSE(platform::FileExists(RecordPath()));
}

TEST_F(Intent, ACallThatEndsRemovesItsRecord) {
    CallFrame frame(u"IntentTest", ErrorMode::ContinueOnError);
    MethodIntent intent(kMethod);
    ASSERT_TRUE(TakeLock(frame, intent));
    ASSERT_TRUE(BeginIntent(frame, intent, IntentRecord().Set("Action", u"ADD")));
    EXPECT_TRUE(intent.RecordExists());
    EXPECT_TRUE(EndIntent(frame, intent));
    EXPECT_FALSE(intent.RecordExists());
    EXPECT_EQ(intent.Leftover(), std::nullopt);
    EXPECT_FALSE(frame.has_pending_error());
}

}  // namespace
}  // namespace quorvel
