// Scripts of profile calls (read, write, section, dump; TAB-separated,
// escaped fields, <NULL> for a null pointer), run against one file through
// some implementation of the ANSI profile functions; one output line per call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::test {

class ProfileCalls {
public:
    using Name = std::optional<std::string_view>;
    virtual ~ProfileCalls() = default;
    // GetPrivateProfileStringA with a null default: the count, and in `shown`
    // the first min(count + 1, size) bytes of the buffer.
    virtual uint32_t Read(Name section, Name key, uint32_t size, std::string& shown) = 0;
    virtual bool Write(Name section, Name key, Name value) = 0;
    // `content` ends in two NULs.
    virtual bool Section(Name section, Name content) = 0;
};

// The component's own functions on `ini`.
class EngineCalls : public ProfileCalls {
public:
    explicit EngineCalls(std::string ini) : ini_(std::move(ini)) {}
    uint32_t Read(Name section, Name key, uint32_t size, std::string& shown) override;
    bool Write(Name section, Name key, Name value) override;
    bool Section(Name section, Name content) override;

private:
    std::string ini_;
};

std::string RunProfileScript(std::string_view script, const std::string& ini, ProfileCalls& calls);

// Whether an output matches the expected one, where `\\?` stands for any
// one byte of a buffer.
bool OutputMatches(const std::string& got, const std::string& want);

// Bytes as the output shows them: \\ \t \n \r \0 and \xHH for the others
// below 0x20 or from 0x7F on.
std::string Escape(std::string_view bytes);
bool ReadWhole(const std::string& path, std::string& bytes);

}  // namespace quorvel::test
