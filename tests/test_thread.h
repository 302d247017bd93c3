// A thread for tests that run in both builds: the Windows toolchain's win32
// thread model has no std::thread.
#pragma once

#include <chrono>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

namespace quorvel::test {

#ifdef _WIN32
class TestThread {
public:
    TestThread() = default;
    explicit TestThread(std::function<void()> body) : body_(std::move(body)) {
        handle_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    }
    ~TestThread() { join(); }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    bool joinable() const { return handle_ != nullptr; }
    void join() {
        if (handle_ == nullptr) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<TestThread*>(self)->body_();
        return 0;
    }
    std::function<void()> body_;
    HANDLE handle_ = nullptr;
};
inline void PauseMs(int ms) { Sleep(static_cast<DWORD>(ms)); }
#else
using TestThread = std::thread;
inline void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
#endif

}  // namespace quorvel::test
