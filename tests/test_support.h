// Helpers the tests share: temporary folders, whole-file reads and writes,
// and the lines the component appends to its error log.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "component/frame/error_log.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::test {

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("quorvel-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // The folder as the component is given it: a UTF-16 path.
    std::u16string u16() const { return platform::FromUtf8(path_.string()); }

private:
    std::filesystem::path path_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The error log as a file-system path (the component names it Windows-style).
inline std::filesystem::path LogFile() {
    std::string path = platform::ToUtf8(ErrorLogPath());
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

// The error log's content, in the system code page; empty when missing.
inline std::string LogBytes() {
    return platform::ReadFileBytes(platform::ToAnsi(ErrorLogPath())).value_or(std::string());
}

// The lines a piece of work appends to the error log, decoded to UTF-8.
class LogWatch {
public:
    LogWatch() : start_(LogBytes().size()) {}
    std::vector<std::string> NewLines() const {
        const std::string all = LogBytes();
        std::vector<std::string> lines;
        if (all.size() <= start_) return lines;
        std::string rest = all.substr(start_);
        size_t pos = 0;
        while (pos < rest.size()) {
            size_t end = rest.find("\r\n", pos);
            if (end == std::string::npos) end = rest.size();
            lines.push_back(platform::ToUtf8(platform::FromAnsi(rest.substr(pos, end - pos))));
            pos = end + 2;
        }
        return lines;
    }

private:
    size_t start_;
};

// The text of a log line after its date, time and label.
inline std::string MessageOf(const std::string& line) {
    const auto pos = line.find("错误号：");
    return pos == std::string::npos ? std::string() : line.substr(pos);
}

}  // namespace quorvel::test
