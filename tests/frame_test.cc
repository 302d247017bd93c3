#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <stdexcept>

#include "component/frame/error_log.h"
#include "component/frame/frame.h"
#include "component/frame/log_writer.h"
#include "test_support.h"

namespace quorvel {
namespace {

using test::LogWatch;
using test::MessageOf;

[[noreturn]] void FailWith(std::int32_t number, const char16_t* description) {
    throw StepError(number, u"Test", description);
}

TEST(CallFrame, ContinuesAfterAFailureAndReportsItOnceAtTheEnd) {
    LogWatch log;
    int steps_run = 0;
    CallFrame frame(u"PostFtpSit", ErrorMode::ContinueOnError);
    const std::int32_t result = frame.Run([&] {
        frame.Step([&] { ++steps_run; });
        frame.Step([&] { FailWith(11, u"first"); });
        frame.Step([&] { ++steps_run; });
        frame.Step([&] { FailWith(12, u"second"); });
        frame.Step([&] { ++steps_run; });
        return frame.Finish();
    });
    EXPECT_EQ(result, 4);
    EXPECT_EQ(steps_run, 3);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：12，错误源：Test，错误描述：second");
    EXPECT_NE(lines[0].find("PostFtpSit函数"), std::string::npos);
}

TEST(CallFrame, ClearPointDiscardsThePendingError) {
    LogWatch log;
    CallFrame frame(u"PostEmail", ErrorMode::ContinueOnError);
    const std::int32_t result = frame.Run([&] {
        frame.Step([&] { FailWith(5, u"gone"); });
        frame.ClearError();
        frame.Step([] {});
        return frame.Finish();
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(log.NewLines().empty());
}

TEST(CallFrame, DetectedFailureLogsItsTextAndReturnsItsCodeAtOnce) {
    LogWatch log;
    CallFrame frame(u"PostFtpSit", ErrorMode::ContinueOnError);
    bool ran_after = false;
    const std::int32_t result = frame.Run([&]() -> std::int32_t {
        frame.Step([&] { FailWith(9, u"earlier"); });
        if (true) return frame.Detected(3, u"，错误源：Ftp用户 ，错误描述：用户不存在");
        ran_after = true;
        return frame.Finish();
    });
    EXPECT_EQ(result, 3);
    EXPECT_FALSE(ran_after);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：3，错误源：Ftp用户 ，错误描述：用户不存在");
}

TEST(CallFrame, SingleHandlerStopsAtTheFirstFailure) {
    LogWatch log;
    int steps_run = 0;
    CallFrame frame(u"Supervise", ErrorMode::SingleHandler);
    const std::int32_t result = frame.Run([&] {
        frame.Step([&] { ++steps_run; });
        frame.Step([&] { FailWith(-2147012889, u"无法解析服务器的名称或地址"); });
        frame.Step([&] { ++steps_run; });
        return frame.Finish();
    });
    EXPECT_EQ(result, 4);
    EXPECT_EQ(steps_run, 1);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：-2147012889，错误源：Test，错误描述：无法解析服务器的名称或地址");
    EXPECT_NE(lines[0].find("Supervise函数"), std::string::npos);
}

TEST(CallFrame, NothingEscapesTheWork) {
    LogWatch log;
    CallFrame frame(u"PostWebSit", ErrorMode::ContinueOnError);
    const std::int32_t result = frame.Run([&]() -> std::int32_t { throw std::runtime_error("bug"); });
    EXPECT_EQ(result, 4);
    EXPECT_EQ(log.NewLines().size(), 1u);
}

TEST(CallFrame, OverflowOfASignedProductIsError6) {
    EXPECT_EQ(CheckedMultiply(2097151, 1024), 2147482624);
    EXPECT_EQ(CheckedMultiply(-2097152, 1024), -2147483647 - 1);
    try {
        CheckedMultiply(2097152, 1024);
        FAIL() << "no overflow raised";
    } catch (const StepError& error) {
        EXPECT_EQ(error.number, 6);
        EXPECT_EQ(error.description, u"溢出");
    }
}

TEST(CallFrame, TakesTheLowestFreeFileNumber) {
    CallFrame outer(u"PostEmail", ErrorMode::ContinueOnError);
    EXPECT_EQ(LogFileNumber, 1);
    {
        CallFrame inner(u"PostFtpSit", ErrorMode::ContinueOnError);
        EXPECT_EQ(LogFileNumber, 2);
    }
    EXPECT_EQ(LogFileNumber, 1);
    EXPECT_EQ(files::FreeFile(), 2);
}

TEST(ErrorLog, IsCreatedWhenMissingAndAppendedTo) {
    const std::filesystem::path path = test::LogFile();
    const std::string before = test::LogBytes();
    std::filesystem::remove(path);
    ASSERT_FALSE(std::filesystem::exists(path));
    auto fail_once = [] {
        CallFrame frame(u"PostFtpSit", ErrorMode::ContinueOnError);
        return frame.Run([&] { return frame.Detected(1, u"，错误源：x ，错误描述：y"); });
    };
    fail_once();
    const std::string first = test::LogBytes();
    fail_once();
    const std::string second = test::LogBytes();
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(second.substr(0, first.size()), first);
    EXPECT_EQ(second.size(), 2 * first.size());
    EXPECT_EQ(first.substr(first.size() - 2), "\r\n");
    // The system's short date and time of a Simplified Chinese machine, each in its print zone.
    EXPECT_TRUE(std::regex_search(first, std::regex(R"(^\d{4}/\d{1,2}/\d{1,2} +\d{1,2}:\d{2}:\d{2} +PostFtpSit)")))
        << first;
    test::WriteBytes(path, before + second);
}

// A log that cannot be opened (here: a folder in its place) is a failed step.
class UnopenableLog : public testing::Test {
protected:
    void SetUp() override {
        path_ = test::LogFile();
        saved_ = test::LogBytes();
        std::filesystem::remove(path_);
        std::filesystem::create_directory(path_);
    }
    void TearDown() override {
        std::filesystem::remove_all(path_);
        test::WriteBytes(path_, saved_);
    }
    std::filesystem::path path_;
    std::string saved_;
};

TEST_F(UnopenableLog, ContinueOnErrorStillDoesTheWorkAndReturns4) {
    bool worked = false;
    CallFrame frame(u"PostFtpSit", ErrorMode::ContinueOnError);
    const std::int32_t result = frame.Run([&] {
        frame.Step([&] { worked = true; });
        return frame.Finish();
    });
    EXPECT_TRUE(worked);
    EXPECT_EQ(result, 4);
}

TEST_F(UnopenableLog, ClearPointStillDiscardsTheOpenFailure) {
    CallFrame frame(u"PostEmail", ErrorMode::ContinueOnError);
    EXPECT_EQ(frame.Run([&] {
        frame.ClearError();
        return frame.Finish();
    }), 0);
}

TEST_F(UnopenableLog, SingleHandlerReturns4BeforeAnyWork) {
    bool worked = false;
    CallFrame frame(u"ExitWindows", ErrorMode::SingleHandler);
    const std::int32_t result = frame.Run([&] {
        worked = true;
        return frame.Finish();
    });
    EXPECT_FALSE(worked);
    EXPECT_EQ(result, 4);
}

TEST(LogLine, FieldsStartAtPrintZonesOf14Columns) {
    const std::string line = FormatLogLine("2026/12/7", "5:04:09", u"PostFtpSit函数", u"错误号：1");
    // Zone starts at 0, 14, 28; the label is 14 bytes in GBK, so the message starts at 56.
    EXPECT_EQ(line.substr(0, 28), "2026/12/7     5:04:09       ");
    EXPECT_EQ(line.substr(28, 10), "PostFtpSit");
    EXPECT_EQ(line.substr(42, 14), std::string(14, ' '));
    EXPECT_EQ(platform::ToUtf8(platform::FromAnsi(line.substr(56))), "错误号：1\r\n");
}

}  // namespace
}  // namespace quorvel
