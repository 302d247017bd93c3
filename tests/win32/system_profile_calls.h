// The system's own ANSI profile functions, for comparison with the
// component's.
#pragma once

#include <windows.h>

#include <string>

#include "../profile_script.h"

namespace quorvel::test {

class SystemCalls : public ProfileCalls {
public:
    explicit SystemCalls(std::string ini) : ini_(std::move(ini)) {}

    uint32_t Read(Name section, Name key, uint32_t size, std::string& shown) override {
        const std::string s = section ? std::string(*section) : "", k = key ? std::string(*key) : "";
        std::string buffer(size, '\x01');
        const DWORD count = GetPrivateProfileStringA(section ? s.c_str() : nullptr, key ? k.c_str() : nullptr, nullptr,
                                                     buffer.data(), size, ini_.c_str());
        shown = buffer.substr(0, count + 1 < size ? count + 1 : size);
        return count;
    }
    bool Write(Name section, Name key, Name value) override {
        const std::string s = section ? std::string(*section) : "", k = key ? std::string(*key) : "",
                          v = value ? std::string(*value) : "";
        return WritePrivateProfileStringA(section ? s.c_str() : nullptr, key ? k.c_str() : nullptr,
                                          value ? v.c_str() : nullptr, ini_.c_str()) != 0;
    }
    bool Section(Name section, Name content) override {
        const std::string s = section ? std::string(*section) : "", c = content ? std::string(*content) : "";
        return WritePrivateProfileSectionA(section ? s.c_str() : nullptr, content ? c.c_str() : nullptr,
                                           ini_.c_str()) != 0;
    }

private:
    std::string ini_;
};

}  // namespace quorvel::test
