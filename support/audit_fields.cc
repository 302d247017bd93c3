#include "support/audit_fields.h"

#include <optional>
#include <vector>

#include "base/ascii.h"
#include "platform/text.h"

namespace quorvel {
namespace {

void AppendHex(std::u16string& out, unsigned value, int digits) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 15];
}

}  // namespace

std::u16string EscapeAuditAscii(std::u16string_view text, bool in_list) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        if (c == u'%' || c < 0x20 || c == 0x7F || (in_list && c == u'|')) {
            out += u'%';
            AppendHex(out, c, 2);
        } else {
            out += c;
        }
    }
    return out;
}

std::string AuditFieldOfEscaped(std::u16string_view escaped) {
    if (auto bytes = platform::TryToAnsi(escaped)) return std::move(*bytes);
    std::u16string out;
    for (size_t i = 0; i < escaped.size();) {
        const bool pair = escaped[i] >= 0xD800 && escaped[i] <= 0xDBFF && i + 1 < escaped.size() &&
                          escaped[i + 1] >= 0xDC00 && escaped[i + 1] <= 0xDFFF;
        const std::u16string_view one = escaped.substr(i, pair ? 2 : 1);
        if (platform::TryToAnsi(one)) {
            out += one;
        } else {
            for (const char16_t unit : one) {
                out += u"%u";
                AppendHex(out, unit, 4);
            }
        }
        i += one.size();
    }
    return platform::ToAnsi(out);
}

std::string AuditField(std::u16string_view text) { return AuditFieldOfEscaped(EscapeAuditAscii(text, false)); }

std::string UnambiguousAuditValue(std::string field) {
    if (field == "-") return "%2D";
    if (field == "***") return "%2A**";
    return field;
}

std::u16string UnescapeAuditField(std::u16string_view field, bool keep_list_bar) {
    std::u16string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == u'%' && i + 5 < field.size() && field[i + 1] == u'u') {
            unsigned unit = 0;
            bool ok = true;
            for (size_t k = 2; k < 6; ++k) {
                const int d = base::HexDigitValue(field[i + k]);
                ok = ok && d >= 0;
                unit = unit * 16 + static_cast<unsigned>(d < 0 ? 0 : d);
            }
            if (ok) {
                out += static_cast<char16_t>(unit);
                i += 5;
                continue;
            }
        }
        if (field[i] == u'%' && i + 2 < field.size()) {
            const int high = base::HexDigitValue(field[i + 1]);
            const int low = base::HexDigitValue(field[i + 2]);
            if (high >= 0 && low >= 0 && !(keep_list_bar && high == 7 && low == 12)) {
                out += static_cast<char16_t>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::u16string> SplitAuditList(std::u16string_view text) {
    std::vector<std::u16string> items(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'|') {
            items.emplace_back();
        } else if (text.substr(i, 3) == u"%7C") {
            items.back() += u'|';
            i += 2;
        } else {
            items.back() += text[i];
        }
    }
    return items;
}

}  // namespace quorvel
