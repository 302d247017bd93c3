// A value kept on one line of a text store (a record, an accounts file):
// backslash, TAB, CR and LF escaped as \\, \t, \r and \n, read back by
// Unescape, which takes a backslash before any other character as that
// character.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::platform {

inline std::string EscapeLineField(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

inline std::string UnescapeLineField(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

}  // namespace quorvel::platform
