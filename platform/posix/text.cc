// ANSI conversion through iconv in the machine's code page.
#include "platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "platform/posix/machine.h"

namespace quorvel::platform {
namespace {

class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// iconv descriptors keep state, so each thread has its own. UTF-16LE is the
// in-memory form of char16_t on the little-endian machines we build for.
struct Converters {
    std::unique_ptr<Converter> to_ansi;
    std::unique_ptr<Converter> from_ansi;
};

Converters& ConvertersFor(int code_page) {
    thread_local std::map<int, Converters> cache;
    auto [it, fresh] = cache.try_emplace(code_page);
    if (fresh) {
        const std::string ansi = posix::IconvNameOfCodePage(code_page);
        it->second.to_ansi = std::make_unique<Converter>(ansi, "UTF-16LE");
        it->second.from_ansi = std::make_unique<Converter>("UTF-16LE", ansi);
    }
    return it->second;
}

bool IsAscii(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x80) return false;
    return true;
}

bool IsAscii(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Runs the conversion. What cannot be converted is replaced, `skip` input
// bytes at a time, by `replacement`; without a replacement it fails the
// whole conversion, as does a character that iconv converted only to a
// look-alike (an irreversible conversion).
std::optional<std::string> Convert(const Converter& converter, const char* in, size_t in_size, size_t skip,
                                   std::optional<std::string_view> replacement) {
    std::string out;
    out.resize(in_size * 2 + 16);
    char* in_ptr = const_cast<char*>(in);
    size_t in_left = in_size;
    size_t written = 0;
    iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    while (in_left > 0) {
        char* out_ptr = out.data() + written;
        size_t out_left = out.size() - written;
        const size_t rc = iconv(converter.get(), &in_ptr, &in_left, &out_ptr, &out_left);
        written = out.size() - out_left;
        if (rc != static_cast<size_t>(-1)) {
            if (rc != 0 && !replacement) return std::nullopt;
            break;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (!replacement) {
            return std::nullopt;
        } else {
            // EILSEQ or EINVAL (a truncated sequence at the end).
            const size_t step = std::min(skip, in_left);
            in_ptr += step;
            in_left -= step;
            out.resize(std::max(out.size(), written + replacement->size() + 16));
            out.replace(written, replacement->size(), *replacement);
            written += replacement->size();
        }
    }
    out.resize(written);
    return out;
}

}  // namespace

std::string ToAnsi(std::u16string_view text) {
    if (IsAscii(text)) return std::string(text.begin(), text.end());
    const Converters& c = ConvertersFor(posix::MachineCodePage());
    if (!c.to_ansi->ok()) return std::string(text.size(), '?');
    // A lone surrogate or an unmappable character is one code unit: replaced by '?'.
    return *Convert(*c.to_ansi, reinterpret_cast<const char*>(text.data()), text.size() * 2, 2, "?");
}

std::optional<std::string> TryToAnsi(std::u16string_view text) {
    if (IsAscii(text)) return std::string(text.begin(), text.end());
    const Converters& c = ConvertersFor(posix::MachineCodePage());
    if (!c.to_ansi->ok()) return std::nullopt;
    std::optional<std::string> bytes =
        Convert(*c.to_ansi, reinterpret_cast<const char*>(text.data()), text.size() * 2, 2, std::nullopt);
    // What does not read back as the same text was not held exactly.
    if (!bytes || FromAnsi(*bytes) != text) return std::nullopt;
    return bytes;
}

std::u16string FromAnsi(std::string_view bytes) {
    if (IsAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
    const Converters& c = ConvertersFor(posix::MachineCodePage());
    if (!c.from_ansi->ok()) return std::u16string(bytes.size(), u'\uFFFD');
    static constexpr char kReplacement[] = {'\xFD', '\xFF'};
    const std::string utf16 =
        *Convert(*c.from_ansi, bytes.data(), bytes.size(), 1, std::string_view(kReplacement, 2));
    std::u16string out(utf16.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * i]) |
                                       (static_cast<unsigned char>(utf16[2 * i + 1]) << 8));
    }
    return out;
}

std::size_t CompleteAnsiLength(std::string_view bytes) {
    if (IsAscii(bytes)) return bytes.size();
    const Converters& c = ConvertersFor(posix::MachineCodePage());
    if (!c.from_ansi->ok()) return bytes.size();
    // iconv stops with EINVAL where the input ends inside a character; an
    // invalid byte (EILSEQ) is a character of its own, as FromAnsi has it.
    char scratch[1024];
    char* in = const_cast<char*>(bytes.data());
    size_t in_left = bytes.size();
    iconv(c.from_ansi->get(), nullptr, nullptr, nullptr, nullptr);
    while (in_left > 0) {
        char* out = scratch;
        size_t out_left = sizeof(scratch);
        if (iconv(c.from_ansi->get(), &in, &in_left, &out, &out_left) != static_cast<size_t>(-1)) break;
        if (errno == EINVAL) break;
        if (errno == EILSEQ) {
            ++in;
            --in_left;
        }
    }
    return bytes.size() - in_left;
}

}  // namespace quorvel::platform
