#include "profile_script.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/ascii.h"
#include "profile/profile_file.h"

namespace quorvel::test {
namespace {

std::string Decode(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\' || i + 1 >= field.size()) {
            out += c;
            continue;
        }
        const char e = field[++i];
        switch (e) {
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case '0': out += '\0'; break;
            case '\\': out += '\\'; break;
            case 'x': {
                const int hi = i + 1 < field.size() ? base::HexDigitValue(field[i + 1]) : -1;
                const int lo = i + 2 < field.size() ? base::HexDigitValue(field[i + 2]) : -1;
                if (hi >= 0 && lo >= 0) {
                    out += static_cast<char>(hi * 16 + lo);
                    i += 2;
                } else {
                    out += "\\x";
                }
                break;
            }
            default:
                out += '\\';
                out += e;
        }
    }
    return out;
}

}  // namespace

std::string Escape(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\0': out += "\\0"; break;
            default:
                if (u < 0x20 || u >= 0x7F) {
                    out += "\\x";
                    out += kHex[u >> 4];
                    out += kHex[u & 15];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

namespace {

struct Field {
    std::optional<std::string> bytes;  // nullopt: <NULL>
    std::optional<std::string_view> view() const {
        return bytes ? std::optional<std::string_view>(*bytes) : std::nullopt;
    }
};

Field ParseField(std::string_view raw) {
    if (raw == "<NULL>") return {};
    return {Decode(raw)};
}

std::vector<std::string_view> Split(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

}  // namespace

bool ReadWhole(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

namespace {

// A field past the end of the line counts as empty.
Field FieldAt(const std::vector<std::string_view>& f, size_t i) {
    return i < f.size() ? ParseField(f[i]) : Field{std::string()};
}


}  // namespace

uint32_t EngineCalls::Read(Name section, Name key, uint32_t size, std::string& shown) {
    const uint32_t count = profile::ProfileGetString(section, key, size, ini_, shown);
    if (size > 0) shown += '\0';  // the terminating NUL the buffer holds
    return count;
}

bool EngineCalls::Write(Name section, Name key, Name value) {
    return profile::ProfileWriteString(section, key, value, ini_);
}

bool EngineCalls::Section(Name section, Name content) { return profile::ProfileWriteSection(section, content, ini_); }

bool OutputMatches(const std::string& got, const std::string& want) {
    size_t g = 0;
    for (size_t w = 0; w < want.size(); ++w, ++g) {
        if (want.compare(w, 2, "\\?") == 0) {
            // One byte of the buffer, which the runner prints as 1, 2 or 4 characters.
            if (g >= got.size()) return false;
            if (got[g] == '\\') g += got.compare(g, 2, "\\x") == 0 ? 3 : 1;
            ++w;
            continue;
        }
        if (g >= got.size() || got[g] != want[w]) return false;
    }
    return g == got.size();
}

std::string RunProfileScript(std::string_view script, const std::string& ini, ProfileCalls& calls) {
    std::string out;

    size_t pos = 0;
    while (pos < script.size()) {
        size_t end = script.find('\n', pos);
        if (end == std::string::npos) end = script.size();
        std::string_view line(script.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        const auto f = Split(line);
        const std::string_view op = f[0];
        if (op == "read") {
            const Field section = FieldAt(f, 1), key = FieldAt(f, 2);
            const uint32_t size =
                f.size() > 3 ? static_cast<uint32_t>(std::strtoul(std::string(f[3]).c_str(), nullptr, 10)) : 0;
            std::string shown;
            const uint32_t count = calls.Read(section.view(), key.view(), size, shown);
            out += "read\t" + std::to_string(count) + "\t" + Escape(shown) + "\n";
        } else if (op == "write") {
            const Field section = FieldAt(f, 1), key = FieldAt(f, 2), value = FieldAt(f, 3);
            const bool ok = calls.Write(section.view(), key.view(), value.view());
            out += std::string("write\t") + (ok ? "1" : "0") + "\n";
        } else if (op == "section") {
            const Field section = FieldAt(f, 1), content = FieldAt(f, 2);
            std::optional<std::string> buffer;
            if (content.bytes) buffer = *content.bytes + std::string(2, '\0');
            const std::optional<std::string_view> view =
                buffer ? std::optional<std::string_view>(*buffer) : std::nullopt;
            const bool ok = calls.Section(section.view(), view);
            out += std::string("section\t") + (ok ? "1" : "0") + "\n";
        } else if (op == "dump") {
            std::string bytes;
            out += ReadWhole(ini, bytes) ? "dump\t" + Escape(bytes) + "\n" : "dump\t<MISSING>\n";
        } else {
            out += "unknown operation " + std::string(op) + "\n";
        }
    }
    return out;
}

}  // namespace quorvel::test
