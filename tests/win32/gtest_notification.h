// GoogleTest's Notification is built on std::mutex, which the win32 thread
// model of the Windows toolchain lacks; this one waits on a Win32 event.
// Force-included into GoogleTest and the Windows unit tests.
#pragma once

#if defined(__cplusplus)
#include <windows.h>

namespace testing::internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace testing::internal

#define GTEST_HAS_NOTIFICATION_ 1
#endif
