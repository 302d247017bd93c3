// Stands where the command interpreter finds a program and records how it
// was started: its command line as the system passed it (system code page)
// and what came on its standard input, appended to a file beside it named
// after the program ("CACLS.exe.txt"), one call per pair of lines.
#include <windows.h>

#include <string>

int main() {
    std::string record = "line:";
    record += GetCommandLineA();
    record += "\r\nstdin:";
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const DWORD type = in != nullptr && in != INVALID_HANDLE_VALUE ? GetFileType(in) : FILE_TYPE_UNKNOWN;
    if (type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) record.append(buffer, got);
    }
    while (!record.empty() && (record.back() == '\r' || record.back() == '\n')) record.pop_back();
    record += "\r\n";

    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string file = std::string(self) + ".txt";
    const HANDLE out = CreateFileA(file.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(out, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(out);
    return 0;
}
