// File numbers are kept per thread, as module variables are per apartment.
#include <gtest/gtest.h>

#include <thread>

#include "component/frame/error_log.h"
#include "component/frame/frame.h"

namespace quorvel {
namespace {

TEST(CallFrame, FileNumbersArePerThread) {
    CallFrame outer(u"PostEmail", ErrorMode::ContinueOnError);
    EXPECT_EQ(LogFileNumber, 1);
    {
        CallFrame inner(u"PostFtpSit", ErrorMode::ContinueOnError);
        EXPECT_EQ(LogFileNumber, 2);
        std::int32_t other_thread = 0;
        std::thread([&] {
            CallFrame frame(u"PostFtpSit", ErrorMode::ContinueOnError);
            other_thread = LogFileNumber;
        }).join();
        EXPECT_EQ(other_thread, 1);
    }
    EXPECT_EQ(LogFileNumber, 1);
    EXPECT_EQ(files::FreeFile(), 2);
}

}  // namespace
}  // namespace quorvel
