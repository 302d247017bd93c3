// quorvel-doctor.exe: quorvel doctor (doctor/doctor.h) on a Windows server,
// through the system's own file calls and COM, as the component makes them.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "doctor/doctor.h"
#include "platform/utf8.h"

namespace {

// To the console in its characters; to a file or a pipe as UTF-8, as the
// JSON document must be.
void Write(DWORD which, const std::string& utf8) {
    if (utf8.empty()) return;
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::u16string text = quorvel::platform::FromUtf8(utf8);
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    }
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; words != nullptr && i < count; ++i) {
        const std::wstring word = words[i];
        args.push_back(quorvel::platform::ToUtf8(std::u16string(word.begin(), word.end())));
    }
    LocalFree(words);
    // As a script host: an apartment of its own for the directory objects.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const quorvel::doctor::Outcome outcome = quorvel::doctor::Run(args, "quorvel-doctor");
    if (SUCCEEDED(com)) CoUninitialize();
    Write(STD_OUTPUT_HANDLE, outcome.out);
    Write(STD_ERROR_HANDLE, outcome.err);
    return outcome.exit;
}
