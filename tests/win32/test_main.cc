#include <gtest/gtest.h>

#include <windows.h>

// The Windows unit tests run under Wine or on Windows. COM is entered once for
// the whole run, as a script host does, on an apartment-threaded main thread.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int rc = RUN_ALL_TESTS();
    if (SUCCEEDED(hr)) CoUninitialize();
    return rc;
}
