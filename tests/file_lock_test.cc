// The lock of one file: the thread that holds it may write the file through
// the profile functions (which take the same lock), while other threads wait.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>

#include "platform/file_lock.h"
#include "platform/text.h"
#include "support/profile.h"
#include "test_support.h"
#include "test_thread.h"

namespace quorvel {
namespace {

TEST(FileLock, HolderMayTakeItAgainOthersWait) {
    test::TempDir dir;
    const std::u16string file = dir.u16() + u"\\Domains.ini";
    std::atomic<bool> other_has_it{false};
    std::optional<test::TestThread> other;
    {
        platform::FileLock outer(platform::ToAnsi(file));
        ASSERT_TRUE(outer.held());
        {
            platform::FileLock inner(platform::ToAnsi(file));
            EXPECT_TRUE(inner.held());
        }
        // The profile functions lock the file themselves; under our lock they
        // must not wait for it.
        EXPECT_TRUE(WriteIniValue(u"Default:Settings", u"Port", u"8080", file));
        other.emplace([&] {
            platform::FileLock lock(platform::ToAnsi(file));
            other_has_it = lock.held();
        });
        test::PauseMs(100);
        // Still ours after the inner lock went away.
        EXPECT_FALSE(other_has_it.load());
    }
    other->join();
    EXPECT_TRUE(other_has_it.load());
    EXPECT_EQ(ReadIniValue(u"Default:Settings", u"Port", 255, file), u"8080");
}

}  // namespace
}  // namespace quorvel
