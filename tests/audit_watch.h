// The lines calls append to the audit trail, for the tests that check them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/frame/audit.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace quorvel::test {

inline std::string AuditBytes() {
    return platform::ReadFileBytes(platform::ToAnsi(AuditLogPath())).value_or(std::string());
}

// Each line as written, CR LF included; a last line without one too.
inline std::vector<std::string> SplitAuditLines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find("\r\n", start);
        end = end == std::string::npos ? bytes.size() : end + 2;
        lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return lines;
}

// A line's fields from METHOD on, in UTF-8 and joined by TAB, without PID
// and ACCOUNT, which are checked to be this process's and this account's.
inline std::string Shown(const std::string& raw) {
    EXPECT_TRUE(raw.size() >= 2 && raw.compare(raw.size() - 2, 2, "\r\n") == 0) << raw;
    std::vector<std::string> fields;
    const std::string line = raw.substr(0, raw.size() - 2);
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (fields.size() < 8) return "<not a line: " + raw + ">";
    const std::string date = fields[0] + " " + fields[1];
    EXPECT_EQ(date.find_first_not_of("0123456789/: "), std::string::npos) << date;
    EXPECT_EQ(fields[6], std::to_string(platform::ProcessId()));
    EXPECT_EQ(platform::FromAnsi(fields[7]), platform::AccountName());
    std::string shown;
    for (size_t i = 2; i < fields.size(); ++i) {
        if (i == 6 || i == 7) continue;
        if (!shown.empty()) shown += '\t';
        shown += platform::ToUtf8(platform::FromAnsi(fields[i]));
    }
    return shown;
}

// The lines appended since the watch began, as Shown gives them.
class AuditWatch {
public:
    AuditWatch() : start_(AuditBytes().size()) {}
    std::vector<std::string> Lines() const {
        const std::string all = AuditBytes();
        std::vector<std::string> lines;
        if (all.size() > start_)
            for (const std::string& raw : SplitAuditLines(all.substr(start_))) lines.push_back(Shown(raw));
        return lines;
    }

private:
    size_t start_;
};

// Fields joined as Shown joins them.
inline std::string Tabbed(std::initializer_list<std::string> fields) {
    std::string out;
    for (const std::string& field : fields) {
        if (!out.empty()) out += '\t';
        out += field;
    }
    return out;
}

}  // namespace quorvel::test
