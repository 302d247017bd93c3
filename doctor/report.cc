#include "doctor/report.h"

#include <cstdio>

#include "platform/utf8.h"

namespace quorvel::doctor {
namespace {

using platform::ToUtf8;

// A JSON string: the quotes, backslashes and control characters escaped.
std::string Quoted(const std::u16string& text) {
    std::string out = "\"";
    for (const char c : ToUtf8(text)) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string Quoted(const std::string& ascii) { return Quoted(std::u16string(ascii.begin(), ascii.end())); }

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void Report::Unchecked(std::u16string object, std::u16string why) {
    unchecked_.push_back({std::move(object), std::move(why)});
}

int Report::ExitCode() const {
    if (!unchecked_.empty()) return kAccess;
    bool repaired = false;
    for (const Finding& f : findings_) {
        if (!f.repaired) return kFindings;
        repaired = true;
    }
    return repaired ? kRepaired : kSound;
}

std::string Report::Text() const {
    std::string out;
    size_t repaired = 0;
    for (const Finding& f : findings_) {
        out += ToUtf8(f.object);
        if (f.line > 0) out.append(":").append(std::to_string(f.line));
        out += ": " + f.kind + ": " + ToUtf8(f.message) + "\n";
        if (f.repaired) {
            out += "    repaired: " + ToUtf8(f.repair) + "\n";
            ++repaired;
        } else if (!f.repair.empty()) {
            out += "    repair (with --repair): " + ToUtf8(f.repair) + "\n";
        } else {
            out += "    repair: none is sure; left for you to decide\n";
        }
    }
    for (const Problem& p : unchecked_) out += ToUtf8(p.object) + ": not checked: " + ToUtf8(p.why) + "\n";
    out += Count(checked_.size(), "object checked", "objects checked") + ", " +
           Count(findings_.size(), "finding", "findings");
    if (repaired > 0) out += " (" + std::to_string(repaired) + " repaired)";
    if (!unchecked_.empty()) out += ", " + Count(unchecked_.size(), "not checked", "not checked");
    out += "\n";
    return out;
}

std::string Report::Json() const {
    std::string out = "{\"exit\":" + std::to_string(ExitCode()) + ",\"findings\":[";
    for (size_t i = 0; i < findings_.size(); ++i) {
        const Finding& f = findings_[i];
        if (i > 0) out += ",";
        out += "{\"kind\":" + Quoted(f.kind) + ",\"object\":" + Quoted(f.object) + ",\"line\":";
        out += f.line > 0 ? std::to_string(f.line) : "null";
        out += ",\"message\":" + Quoted(f.message) + ",\"repair\":";
        out += f.repair.empty() ? "null" : Quoted(f.repair);
        out += std::string(",\"repaired\":") + (f.repaired ? "true" : "false") + "}";
    }
    out += "],\"unchecked\":[";
    for (size_t i = 0; i < unchecked_.size(); ++i) {
        if (i > 0) out += ",";
        out += "{\"object\":" + Quoted(unchecked_[i].object) + ",\"message\":" + Quoted(unchecked_[i].why) + "}";
    }
    out += "],\"checked\":[";
    for (size_t i = 0; i < checked_.size(); ++i) {
        if (i > 0) out += ",";
        out += Quoted(checked_[i]);
    }
    out += "]}\n";
    return out;
}

}  // namespace quorvel::doctor
