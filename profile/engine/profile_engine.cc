// Profile files are edited the way Windows edits them: in place. A call
// changes only the lines it has to; every other line keeps its bytes (blank
// lines, spacing, comments, LF or CR endings, junk before the first header,
// an unterminated last line). Choices where Windows' exact behaviour is not
// known, made to match what files written by Windows look like:
//
// - A changed key line becomes `Key=value` CR LF, replacing the old line and
//   its terminator: the key keeps its spelling from the file, the line's
//   leading blanks and the blanks around `=` go.
// - Writing the value a key already has (after dropping the value's leading
//   blanks) changes nothing, even when the line's spacing differs.
// - A new key goes right after the last non-blank line of the first section of
//   that name, so blank lines that end a section stay between it and the next
//   header. A new section goes at the end: `[name]` CR LF `key=value` CR LF.
//   An unterminated line that gets a line after it is given CR LF.
// - A value is written without its leading blanks but with its trailing ones;
//   names of new keys and sections likewise. Names are matched after trimming
//   on reads and writes, but deletions match the name exactly as given.
// - `[]` and `[ ]` are a real section, the one the empty name reaches; the
//   lines before the first header belong to no section.
// - WritePrivateProfileSection keeps comment and blank lines in place: the
//   section's other lines are its slots, and the new entries take them in
//   order (a slot left over is removed, an entry left over goes after the last
//   slot, or after the last non-blank line when there were none). So comments
//   stay next to the keys they describe as long as the order is unchanged.
//   Later sections of the same name lose their entries too.
// - A key delete takes the first matching key of the first section of that
//   name that has one; a section delete removes the first section of that name
//   with every line up to the next header.
// - Values that contain line breaks, and key names that form a header, are
//   written raw; the file is then read again, as a later call would see it.
// - Reads of a quoted value drop one matching pair of outer quotes; with a
//   buffer of exactly the quoted length the closing quote costs one more
//   character, as observed. A value cut by a small buffer keeps its first
//   Size-1 bytes even inside a double-byte character.
// - A list (of sections or keys) that does not fit with room to spare is cut
//   to Size-2 bytes; the caller's buffer then ends in two NULs.
#include "profile/engine/profile_engine.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/ascii.h"

namespace quorvel::profile {
namespace {

std::atomic<uint64_t> g_parses{0};

enum class Eol : uint8_t { None, CrLf, Lf, Cr };
// A Dead line was deleted from the file; it keeps its place in the section
// (and so every index into it) until the section is compacted.
enum class Kind : uint8_t { Blank, Header, Entry, Dead };

constexpr size_t kIndexThreshold = 24;
constexpr uint32_t kScansBeforeIndex = 4;

bool IsSpace(char c) {
    switch (c) {
        case ' ': case '\t': case '\r': case '\n': case '\v': case '\f': case '\x1a':
            return true;
        default:
            return false;
    }
}


std::string_view LTrim(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsSpace(s[b])) ++b;
    return s.substr(b);
}

std::string_view Trim(std::string_view s) {
    s = LTrim(s);
    size_t e = s.size();
    while (e > 0 && IsSpace(s[e - 1])) --e;
    return s.substr(0, e);
}

bool EqualNames(std::string_view a, std::string_view b, const LeadBytes& leads) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // the usual case, and cheaper than folding
    for (size_t i = 0; i < a.size(); ++i) {
        if (leads.lead(a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            ++i;
        } else if (base::ToLowerAscii(a[i]) != base::ToLowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view EolText(Eol eol) {
    switch (eol) {
        case Eol::CrLf: return "\r\n";
        case Eol::Lf: return "\n";
        case Eol::Cr: return "\r";
        case Eol::None: break;
    }
    return {};
}

// The byte count of the first `chars` characters of `s`.
size_t BytesOfChars(std::string_view s, size_t chars, const LeadBytes& leads) {
    size_t i = 0;
    while (chars > 0 && i < s.size()) {
        i += (leads.lead(s[i]) && i + 1 < s.size()) ? 2 : 1;
        --chars;
    }
    return i;
}

size_t CountChars(std::string_view s, const LeadBytes& leads) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++n) i += (leads.lead(s[i]) && i + 1 < s.size()) ? 2 : 1;
    return n;
}

uint32_t CopyList(const std::string& list, uint32_t size, std::string& out) {
    if (list.size() + 2 <= size) {
        out = list;
    } else if (size < 2) {
        out.clear();
    } else {
        out = list.substr(0, size - 2);
    }
    return static_cast<uint32_t>(out.size());
}

// A value in one matching pair of outer quotes, which reads drop.
bool IsQuoted(std::string_view v) { return v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]; }

uint32_t CopyValue(std::string_view v, uint32_t size, std::string& out, const LeadBytes& leads) {
    const size_t room = size - 1;  // characters the buffer holds before its NUL
    size_t chars = 0;
    if (IsQuoted(v)) {
        v.remove_prefix(1);
        const size_t m = CountChars(v, leads);  // the inner text and the closing quote
        chars = std::min(m, room);
        if (size >= m && chars > 0) --chars;
    } else {
        chars = std::min(CountChars(v, leads), room);
    }
    size_t bytes = BytesOfChars(v, chars, leads);
    if (bytes > room) bytes = room;
    out.assign(v.substr(0, bytes));
    return static_cast<uint32_t>(bytes);
}

}  // namespace

LeadBytes::LeadBytes(std::initializer_list<std::pair<unsigned char, unsigned char>> ranges) {
    for (const auto& [first, last] : ranges) Add(first, last);
}

void LeadBytes::Add(unsigned char first, unsigned char last) {
    for (unsigned b = first; b <= last; ++b) table_[b] = true;
}

const LeadBytes& LeadBytes::ForCodePage(int code_page) {
    static const LeadBytes none{};
    static const LeadBytes chinese_korean{{0x81, 0xFE}};  // GBK, Big5, Unified Hangul
    static const LeadBytes japanese{{0x81, 0x9F}, {0xE0, 0xFC}};
    static const LeadBytes johab{{0x84, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}};
    switch (code_page) {
        case 936: case 949: case 950: return chinese_korean;
        case 932: return japanese;
        case 1361: return johab;
        default: return none;
    }
}

size_t ProfileNameHash::operator()(std::string_view name) const {
    // FNV-1a over the folded bytes.
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (leads->lead(c) && i + 1 < name.size()) {
            h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
            c = name[++i];
        } else {
            c = base::ToLowerAscii(c);
        }
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return static_cast<size_t>(h);
}

bool ProfileNameEqual::operator()(std::string_view a, std::string_view b) const {
    return EqualNames(a, b, *leads);
}

std::string FoldProfileName(std::string_view name, const LeadBytes& leads) {
    std::string out(name);
    for (size_t i = 0; i < out.size(); ++i) {
        if (leads.lead(out[i]) && i + 1 < out.size()) {
            ++i;
        } else {
            out[i] = base::ToLowerAscii(out[i]);
        }
    }
    return out;
}

struct ProfileEngine::Line {
    // The line without its terminator: a view into the bytes the file was
    // parsed from, or into `owned` for a line the engine wrote (on the heap,
    // where a move of the line leaves it). Parsing a large file so costs no
    // allocation per line, and a section's lines stay small.
    std::string_view text;
    std::unique_ptr<std::string> owned;
    uint32_t name_b = 0, name_e = 0, value_b = 0, value_e = 0;
    Eol eol = Eol::CrLf;
    Kind kind = Kind::Blank;
    bool has_value = false;

    std::string_view name() const { return std::string_view(text).substr(name_b, name_e - name_b); }
    std::string_view value() const { return std::string_view(text).substr(value_b, value_e - value_b); }
    bool comment() const { return kind == Kind::Entry && name_e > name_b && text[name_b] == ';'; }
    bool slot() const { return kind == Kind::Entry && !comment(); }

    void Classify(const LeadBytes& leads) {
        kind = Kind::Blank;
        has_value = false;
        name_b = name_e = value_b = value_e = 0;
        const std::string_view t(text);
        size_t b = 0;
        while (b < t.size() && IsSpace(t[b])) ++b;
        size_t e = t.size();
        while (e > b && IsSpace(t[e - 1])) --e;
        if (b == e) return;
        if (t[b] == '[') {
            // The name runs to the last ']' that is not half of a double-byte character.
            size_t close = std::string_view::npos;
            for (size_t i = b + 1; i < e; ++i) {
                if (leads.lead(t[i]) && i + 1 < e) {
                    ++i;
                } else if (t[i] == ']') {
                    close = i;
                }
            }
            if (close != std::string_view::npos) {
                kind = Kind::Header;
                size_t nb = b + 1, ne = close;
                while (nb < ne && IsSpace(t[nb])) ++nb;
                while (ne > nb && IsSpace(t[ne - 1])) --ne;
                name_b = static_cast<uint32_t>(nb);
                name_e = static_cast<uint32_t>(ne);
                return;
            }
        }
        kind = Kind::Entry;
        const size_t eq = t.substr(0, e).find('=', b);
        if (eq == std::string_view::npos) {
            name_b = static_cast<uint32_t>(b);
            name_e = static_cast<uint32_t>(e);
            return;
        }
        has_value = true;
        size_t ne = eq;
        while (ne > b && IsSpace(t[ne - 1])) --ne;
        size_t vb = eq + 1;
        while (vb < e && IsSpace(t[vb])) ++vb;
        name_b = static_cast<uint32_t>(b);
        name_e = static_cast<uint32_t>(ne);
        value_b = static_cast<uint32_t>(vb);
        value_e = static_cast<uint32_t>(e);
    }
};

namespace {

struct LineEnd {
    size_t end;   // where the line's text ends
    size_t next;  // where the next line begins
    Eol eol;
};

// Any CR or LF ends a line; CR LF together end one line.
LineEnd EndOfLine(std::string_view bytes, size_t i) {
    const size_t n = bytes.size();
    size_t j = i;
    // Eight bytes at a time while none of them is CR or LF.
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
    while (j + 8 <= n) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + j, 8);
        const uint64_t cr = word ^ (kOnes * '\r'), lf = word ^ (kOnes * '\n');
        if ((((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHighs) break;
        j += 8;
    }
    while (j < n && bytes[j] != '\r' && bytes[j] != '\n') ++j;
    if (j == n) return {j, n, Eol::None};
    if (bytes[j] == '\r' && j + 1 < n && bytes[j + 1] == '\n') return {j, j + 2, Eol::CrLf};
    return {j, j + 1, bytes[j] == '\r' ? Eol::Cr : Eol::Lf};
}

// Appends the classified lines of `bytes`, which start at a line's beginning.
void SplitLines(std::string_view bytes, std::vector<ProfileEngine::Line>& out, const LeadBytes& leads) {
    size_t count = 0;
    for (size_t i = 0; i < bytes.size(); ++count) i = EndOfLine(bytes, i).next;
    out.reserve(out.size() + count);
    for (size_t i = 0; i < bytes.size();) {
        const LineEnd le = EndOfLine(bytes, i);
        ProfileEngine::Line& line = out.emplace_back();
        line.text = bytes.substr(i, le.end - i);
        line.eol = le.eol;
        line.Classify(leads);
        i = le.next;
    }
}

// Where each key of a section first occurs: line positions in an open-addressed
// table, hashed and compared by the lines' own names, so that indexing a list
// of a thousand keys copies no name and allocates once.
class KeyIndex {
public:
    static constexpr uint32_t kNone = UINT32_MAX;
    using Lines = std::vector<ProfileEngine::Line>;

    void Clear() {
        slots_.clear();
        count_ = 0;
    }

    // The position `name` is kept at; kNone when it is not.
    uint32_t Find(std::string_view name, const Lines& lines, const LeadBytes& leads) const {
        if (slots_.empty()) return kNone;
        return slots_[Probe(name, lines, leads)];
    }

    // Keeps `pos` for its line's name unless the name is kept already; false then.
    bool Add(uint32_t pos, const Lines& lines, const LeadBytes& leads) {
        Grow(lines, leads);
        uint32_t& slot = slots_[Probe(lines[pos].name(), lines, leads)];
        if (slot != kNone) return false;
        slot = pos;
        ++count_;
        return true;
    }

    // The slot of a name that is kept; its position may be changed through it.
    uint32_t* Slot(std::string_view name, const Lines& lines, const LeadBytes& leads) {
        if (slots_.empty()) return nullptr;
        uint32_t& slot = slots_[Probe(name, lines, leads)];
        return slot == kNone ? nullptr : &slot;
    }

    // Forgets the name whose slot this is (linear probing: the entries after it
    // in its run move back, so that no search stops short of them).
    void Remove(uint32_t* slot, const Lines& lines, const LeadBytes& leads) {
        const size_t mask = slots_.size() - 1;
        size_t hole = static_cast<size_t>(slot - slots_.data());
        slots_[hole] = kNone;
        --count_;
        for (size_t j = (hole + 1) & mask; slots_[j] != kNone; j = (j + 1) & mask) {
            const size_t home = Home(lines[slots_[j]].name(), leads);
            // Moves back unless its home lies cyclically in (hole, j].
            const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
            if (stays) continue;
            slots_[hole] = slots_[j];
            slots_[j] = kNone;
            hole = j;
        }
    }

    // Every position from `pos` on moves one down (a line was inserted there).
    void ShiftFrom(uint32_t pos) {
        for (uint32_t& slot : slots_)
            if (slot != kNone && slot >= pos) ++slot;
    }

private:
    size_t Home(std::string_view name, const LeadBytes& leads) const {
        return ProfileNameHash{&leads}(name) & (slots_.size() - 1);
    }

    size_t Probe(std::string_view name, const Lines& lines, const LeadBytes& leads) const {
        const size_t mask = slots_.size() - 1;
        size_t i = Home(name, leads);
        while (slots_[i] != kNone && !EqualNames(lines[slots_[i]].name(), name, leads)) i = (i + 1) & mask;
        return i;
    }

    // At most half full.
    void Grow(const Lines& lines, const LeadBytes& leads) {
        if ((count_ + 1) * 2 <= slots_.size()) return;
        std::vector<uint32_t> old = std::move(slots_);
        // Room at once for as many keys as there are lines.
        size_t size = 64;
        while (size < 2 * std::max(count_ + 1, lines.size())) size *= 2;
        slots_.assign(size, kNone);
        for (const uint32_t pos : old)
            if (pos != kNone) slots_[Probe(lines[pos].name(), lines, leads)] = pos;
    }

    std::vector<uint32_t> slots_;
    size_t count_ = 0;
};

}  // namespace

struct ProfileEngine::Section {
    explicit Section(const LeadBytes& code_page) : leads(&code_page) {}

    const LeadBytes* leads;
    Line header;
    // A parsed section keeps its lines as the bytes they were read from until
    // a call needs them: a call reads or changes a few sections of a thousand,
    // and the others are written back as they came.
    mutable std::string_view raw;
    mutable bool lazy = false;
    mutable std::vector<Line> lines;
    Section* next_same = nullptr;  // the next section of the same name
    mutable KeyIndex keys;  // key -> first line
    mutable bool indexed = false;
    mutable bool duplicates = false;  // some key name occurs twice
    mutable uint32_t scans = 0;       // look-ups made without the index
    size_t dead = 0;

    void Expand() const {
        if (!lazy) return;
        lazy = false;
        SplitLines(raw, lines, *leads);
        raw = {};
    }
    const std::vector<Line>& Body() const {
        Expand();
        return lines;
    }
    std::vector<Line>& Body() {
        Expand();
        return lines;
    }

    void Touch() {
        indexed = false;
        duplicates = false;
        keys.Clear();
    }

    // A list of 998 users loses and gains lines one by one: a deleted line
    // stays as a dead one so that no position moves, and the index stays true
    // without reading every name again. Dead lines go when they are many.
    void EraseLine(size_t pos) {
        Expand();
        // The index reads the names of its lines: it is mended while this one is alive.
        if (indexed && lines[pos].kind == Kind::Entry) {
            uint32_t* slot = keys.Slot(lines[pos].name(), lines, *leads);
            if (slot != nullptr && *slot == pos) {
                const uint32_t next = NextKey(pos + 1, lines[pos].name());
                if (next == kNoLine) {
                    keys.Remove(slot, lines, *leads);
                } else {
                    *slot = next;
                }
            }
        }
        lines[pos] = Line{};
        lines[pos].kind = Kind::Dead;
        lines[pos].eol = Eol::None;
        ++dead;
        if (dead > 64 && dead * 2 > lines.size()) Compact();
    }

    void InsertLine(size_t pos, Line line) {
        Expand();
        const bool append = pos == lines.size();
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos), std::move(line));
        if (!indexed) return;
        if (!append) keys.ShiftFrom(static_cast<uint32_t>(pos));
        const Line& added = lines[pos];
        if (added.kind != Kind::Entry) return;
        if (!keys.Add(static_cast<uint32_t>(pos), lines, *leads)) {
            duplicates = true;
            uint32_t* slot = keys.Slot(added.name(), lines, *leads);
            if (*slot > pos) *slot = static_cast<uint32_t>(pos);
        }
    }

    static constexpr uint32_t kNoLine = UINT32_MAX;

    // The first line from `from` on whose key is `name`.
    uint32_t NextKey(size_t from, std::string_view name) const {
        if (!duplicates) return kNoLine;
        Expand();
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].kind == Kind::Entry && EqualNames(lines[i].name(), name, *leads)) return static_cast<uint32_t>(i);
        return kNoLine;
    }

    void Compact() {
        Expand();
        lines.erase(std::remove_if(lines.begin(), lines.end(), [](const Line& l) { return l.kind == Kind::Dead; }),
                    lines.end());
        dead = 0;
        Touch();
    }

    // The first line (with or without '=') whose key is `name`; -1 if none.
    long FindKey(std::string_view name) const {
        Expand();
        // An index pays for itself only over many look-ups: a call that
        // looks up one key of a long list scans it.
        if (!indexed && (lines.size() < kIndexThreshold || ++scans <= kScansBeforeIndex)) {
            for (size_t i = 0; i < lines.size(); ++i)
                if (lines[i].kind == Kind::Entry && EqualNames(lines[i].name(), name, *leads))
                    return static_cast<long>(i);
            return -1;
        }
        if (!indexed) {
            keys.Clear();
            for (size_t i = 0; i < lines.size(); ++i)
                if (lines[i].kind == Kind::Entry && !keys.Add(static_cast<uint32_t>(i), lines, *leads)) duplicates = true;
            indexed = true;
        }
        const uint32_t at = keys.Find(name, lines, *leads);
        return at == KeyIndex::kNone ? -1 : static_cast<long>(at);
    }

    // Where a new line goes: after the last non-blank line (at the end when
    // only dead lines follow it, which is the same place in the file).
    size_t InsertionPoint() const {
        Expand();
        size_t i = lines.size();
        while (i > 0 && (lines[i - 1].kind == Kind::Blank || lines[i - 1].kind == Kind::Dead)) --i;
        for (size_t j = i; j < lines.size(); ++j)
            if (lines[j].kind != Kind::Dead) return i;
        return lines.size();
    }

    // The last line before `pos` that is still in the file, or the header.
    Line& LiveBefore(size_t pos) {
        Expand();
        while (pos > 0 && lines[pos - 1].kind == Kind::Dead) --pos;
        return pos == 0 ? header : lines[pos - 1];
    }

    // The line before `pos` gets a terminator if it is the file's unterminated last line.
    void TerminateBefore(size_t pos) {
        Line& before = LiveBefore(pos);
        if (before.eol == Eol::None) before.eol = Eol::CrLf;
    }

    size_t ByteBound() const {
        if (lazy) return raw.size();
        size_t total = 0;
        for (const Line& l : lines) total += l.text.size() + 2;
        return total;
    }

    void AppendBytes(std::string& out) const {
        if (lazy) {
            out += raw;
            return;
        }
        for (const Line& l : lines) {
            out += l.text;
            out += EolText(l.eol);
        }
    }
};

namespace {

ProfileEngine::Line MakeLine(std::string text, bool& reparse, const LeadBytes& leads) {
    ProfileEngine::Line line;
    // (find_first_of would search the two-byte set once per byte of text)
    if (std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; })) reparse = true;
    line.owned = std::make_unique<std::string>(std::move(text));
    line.text = *line.owned;
    line.eol = Eol::CrLf;
    line.Classify(leads);
    return line;
}

// A key line; one that reads as a header makes the file be read again.
ProfileEngine::Line MakeEntry(std::string text, bool& reparse, const LeadBytes& leads) {
    ProfileEngine::Line line = MakeLine(std::move(text), reparse, leads);
    if (line.kind != Kind::Entry) reparse = true;
    return line;
}

std::string Joined(std::string_view key, std::string_view value) {
    std::string text;
    text.reserve(key.size() + value.size() + 1);
    text.append(key);
    text += '=';
    text.append(value);
    return text;
}

}  // namespace

ProfileEngine::ProfileEngine() : ProfileEngine(LeadBytes::Gbk()) {}
ProfileEngine::ProfileEngine(const LeadBytes& leads)
    : leads_(&leads),
      absent_ahead_(0, ProfileNameHash{&leads}, ProfileNameEqual{&leads}),
      by_name_(0, ProfileNameHash{&leads}, ProfileNameEqual{&leads}) {}
ProfileEngine::~ProfileEngine() = default;
ProfileEngine::ProfileEngine(ProfileEngine&&) noexcept = default;
ProfileEngine& ProfileEngine::operator=(ProfileEngine&&) noexcept = default;

uint64_t ProfileEngine::parse_count() { return g_parses.load(); }

std::string ProfileEngine::Recycle(ProfileEngine engine) {
    std::unique_ptr<std::string> source = std::move(engine.source_);
    // The lines view the buffer: they go first.
    engine = ProfileEngine(*engine.leads_);
    if (!source) return {};
    source->clear();
    return std::move(*source);
}

ProfileEngine ProfileEngine::Parse(std::string source, const LeadBytes& leads) {
    ++g_parses;
    ProfileEngine engine(leads);
    engine.source_ = std::make_unique<std::string>(std::move(source));
    engine.scan_from_ = 0;
    engine.ScanNext();  // the lines before the first header
    return engine;
}

namespace {

// The first header line from `from` on (a line's start): where its line
// begins, with the line classified and where the next line begins; false
// when there is none. Only headers are looked for, and a header's first
// non-blank byte is '[': the '[' bytes lead to every one of them.
bool NextHeader(std::string_view bytes, size_t from, const LeadBytes& leads, ProfileEngine::Line& line,
                size_t& start, size_t& next) {
    while (from < bytes.size()) {
        const size_t p = bytes.find('[', from);
        if (p == std::string_view::npos) return false;
        start = p;
        while (start > 0 && bytes[start - 1] != '\r' && bytes[start - 1] != '\n' && IsSpace(bytes[start - 1]))
            --start;
        if (start > 0 && bytes[start - 1] != '\r' && bytes[start - 1] != '\n') {
            from = p + 1;  // not the line's first non-blank byte
            continue;
        }
        const LineEnd le = EndOfLine(bytes, p);
        from = le.next;
        line.text = bytes.substr(start, le.end - start);
        line.eol = le.eol;
        line.Classify(leads);
        if (line.kind == Kind::Header) {
            next = le.next;
            return true;
        }
    }
    return false;
}

}  // namespace

// Sections are found as calls ask for them: a read of the user list near the
// top of a file of a thousand accounts never looks at the accounts. A
// section's bytes are known once the header after it is found; until then it
// is the pending one, whose bytes begin where the scan goes on.
bool ProfileEngine::ScanNext() const {
    if (scan_from_ == kScanned) return false;
    const std::string_view bytes = *source_;
    Line line;
    size_t start = 0, next = 0;
    const bool found = NextHeader(bytes, scan_from_, *leads_, line, start, next);
    // The bytes before it belong to the section found last (or are the prefix).
    const size_t end = found ? start : bytes.size();
    const std::string_view range = bytes.substr(scan_from_, end - scan_from_);
    if (pending_ == nullptr) {
        SplitLines(range, prefix_, *leads_);
    } else if (!range.empty()) {
        pending_->raw = range;
        pending_->lazy = true;
    }
    if (!found) {
        pending_ = nullptr;
        scan_from_ = kScanned;
        return false;
    }
    auto section = std::make_unique<Section>(*leads_);
    section->header = std::move(line);
    pending_ = section.get();
    sections_.push_back(std::move(section));
    AddName(pending_);
    scan_from_ = next;
    return true;
}

// Looks through the bytes not scanned yet without making sections of them:
// a call that asks for a section that is not there (one it has just
// deleted, one it is about to add) does not index a thousand others.
bool ProfileEngine::HeaderAhead(std::string_view name) const {
    if (scan_from_ == kScanned || absent_ahead_.contains(name)) return false;
    const std::string_view bytes = *source_;
    Line line;
    size_t start = 0, next = scan_from_;
    while (NextHeader(bytes, next, *leads_, line, start, next))
        if (EqualNames(line.name(), name, *leads_)) return true;
    // The bytes ahead never change, and the scan only moves on through them.
    // A copy kept for many calls asks for many names: past a few hundred the
    // rest is indexed once instead.
    if (absent_ahead_.size() >= 256) {
        ScanAll();
        absent_ahead_.clear();
    } else {
        absent_ahead_.emplace(name);
    }
    return false;
}

void ProfileEngine::ScanAll() const {
    while (ScanNext()) {
    }
}

// The bytes not looked at yet (the pending section's and after) are written
// back as they came: no call has read or changed them.
std::string ProfileEngine::Serialize() const {
    const std::string_view unread =
        scan_from_ == kScanned ? std::string_view() : std::string_view(*source_).substr(scan_from_);
    std::string out;
    size_t total = unread.size();
    for (const Line& l : prefix_) total += l.text.size() + 2;
    for (const auto& s : sections_) total += s->header.text.size() + 2 + s->ByteBound();
    out.reserve(total);
    for (const Line& l : prefix_) {
        out += l.text;
        out += EolText(l.eol);
    }
    for (const auto& s : sections_) {
        out += s->header.text;
        out += EolText(s->header.eol);
        if (s.get() == pending_) break;
        s->AppendBytes(out);
    }
    out += unread;
    return out;
}

bool ProfileEngine::empty() const { return prefix_.empty() && sections_.empty(); }

ProfileEngine::Section* ProfileEngine::FindSection(std::string_view name) const {
    const auto indexed = [&]() -> Section* {
        const auto it = by_name_.find(name);
        return it == by_name_.end() ? nullptr : it->second.first;
    };
    Section* first = indexed();
    if (first == nullptr) {
        if (!HeaderAhead(name)) return nullptr;
        while ((first = indexed()) == nullptr && ScanNext()) {
        }
    }
    // Its bytes are known once the header after it is found.
    while (first != nullptr && first == pending_ && ScanNext()) {
    }
    return first;
}

ProfileEngine::Section* ProfileEngine::NextOfSameName(const Section* section) const {
    if (section->next_same == nullptr && !HeaderAhead(section->header.name())) return nullptr;
    while ((section->next_same == nullptr || section->next_same == pending_) && ScanNext()) {
    }
    return section->next_same;
}

void ProfileEngine::AddName(Section* section) const {
    const auto [it, fresh] = by_name_.try_emplace(section->header.name());
    Named& named = it->second;
    if (fresh) {
        named.first = section;
    } else {
        named.last->next_same = section;
    }
    named.last = section;
}

void ProfileEngine::TerminateLastLine() {
    Line* last = nullptr;
    if (!sections_.empty()) {
        Section& s = *sections_.back();
        last = &s.LiveBefore(s.Body().size());
    } else if (!prefix_.empty()) {
        last = &prefix_.back();
    }
    if (last != nullptr && last->eol == Eol::None) last->eol = Eol::CrLf;
}

ProfileEngine::Section& ProfileEngine::AppendSection(std::string_view name) {
    ScanAll();  // it goes after the last one
    TerminateLastLine();
    auto section = std::make_unique<Section>(*leads_);
    std::string text;
    text.reserve(name.size() + 2);
    text += '[';
    text.append(name);
    text += ']';
    section->header = MakeLine(std::move(text), reparse_, *leads_);
    if (section->header.kind != Kind::Header) reparse_ = true;
    Section* raw = section.get();
    AddName(raw);
    sections_.push_back(std::move(section));
    return *raw;
}

void ProfileEngine::EraseSection(Section* section) {
    const auto it = by_name_.find(section->header.name());
    if (it != by_name_.end()) {
        Named& named = it->second;
        if (named.first != section) {
            Section* before = named.first;
            while (before->next_same != section) before = before->next_same;
            before->next_same = section->next_same;
            if (named.last == section) named.last = before;
        } else if (section->next_same == nullptr) {
            by_name_.erase(it);
        } else {
            // The key views the erased header: it moves to the next one's.
            auto node = by_name_.extract(it);
            node.mapped().first = section->next_same;
            node.key() = section->next_same->header.name();
            by_name_.insert(std::move(node));
        }
    }
    sections_.erase(std::find_if(sections_.begin(), sections_.end(),
                                 [section](const auto& p) { return p.get() == section; }));
}

void ProfileEngine::Reparse() {
    reparse_ = false;
    *this = Parse(Serialize(), *leads_);
}

ProfileEngine::Result ProfileEngine::Finish(Result result) {
    if (reparse_) Reparse();
    return result;
}

uint32_t ProfileEngine::GetString(Name section, Name key, uint32_t size, std::string& out) const {
    out.clear();
    if (size == 0) return 0;
    if (!section) {
        ScanAll();
        std::string list;
        for (const auto& s : sections_) {
            const std::string_view name = s->header.name();
            if (name.empty()) continue;  // could not be told from the list's end
            list.append(name);
            list += '\0';
        }
        return CopyList(list, size, out);
    }
    const Section* s = FindSection(Trim(*section));
    if (!key) {
        std::string list;
        if (s != nullptr) {
            for (const Line& l : s->Body()) {
                // An empty name (a line "=x") is listed too: a lone NUL.
                if (!l.has_value || l.comment()) continue;
                list.append(l.name());
                list += '\0';
            }
        }
        return CopyList(list, size, out);
    }
    if (s == nullptr) return 0;
    const long idx = s->FindKey(Trim(*key));
    if (idx < 0) return 0;
    const Line& line = s->Body()[static_cast<size_t>(idx)];
    if (!line.has_value) return 0;
    std::string_view value = line.value();
    value = value.substr(0, value.find('\0'));
    return CopyValue(value, size, out, *leads_);
}

void ProfileEngine::ForEachLine(const std::function<void(const LineView&)>& visit) const {
    ScanAll();
    uint32_t number = 0;
    LineView view;
    for (size_t i = 0; i < prefix_.size(); ++i) {
        view.number = ++number;
        visit(view);
    }
    for (const auto& s : sections_) {
        const std::string_view name = s->header.name();
        view = LineView{};
        view.number = ++number;
        view.type = LineView::Type::kHeader;
        view.section = name;
        view.first = FindSection(name) == s.get();
        visit(view);
        const std::vector<Line>& body = s->Body();
        for (size_t i = 0; i < body.size(); ++i) {
            const Line& l = body[i];
            if (l.kind == Kind::Dead) continue;
            view = LineView{};
            view.number = ++number;
            view.section = name;
            if (l.kind == Kind::Entry) {
                view.type = LineView::Type::kKey;
                view.key = l.name();
                view.first = s->FindKey(view.key) == static_cast<long>(i);
                view.has_value = l.has_value;
                if (l.has_value) {
                    std::string_view v = l.value();
                    v = v.substr(0, v.find('\0'));
                    if (IsQuoted(v)) v = v.substr(1, v.size() - 2);
                    view.value = v;
                }
            }
            visit(view);
        }
    }
}

std::optional<std::string_view> ProfileEngine::StoredValue(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(Trim(section));
    if (s == nullptr) return std::nullopt;
    const long idx = s->FindKey(Trim(key));
    if (idx < 0) return std::nullopt;
    const Line& line = s->Body()[static_cast<size_t>(idx)];
    if (!line.has_value) return std::nullopt;
    return line.value();
}

ProfileEngine::Result ProfileEngine::SetKey(std::string_view section, std::string_view key,
                                            std::string_view value) {
    const std::string_view v = LTrim(value);
    Section* s = FindSection(Trim(section));
    if (s == nullptr) {
        Section& added = AppendSection(LTrim(section));
        added.lines.push_back(MakeEntry(Joined(LTrim(key), v), reparse_, *leads_));
        return {true, true};
    }
    const long idx = s->FindKey(Trim(key));
    if (idx >= 0) {
        Line& line = s->Body()[static_cast<size_t>(idx)];
        if (line.has_value && line.value() == v) return {true, false};
        std::string text = Joined(line.name(), v);
        if (text == line.text && line.eol == Eol::CrLf) return {true, false};
        line = MakeEntry(std::move(text), reparse_, *leads_);
        return {true, true};  // same key at the same place: the index holds
    }
    const size_t pos = s->InsertionPoint();
    s->TerminateBefore(pos);
    Line line = MakeEntry(Joined(LTrim(key), v), reparse_, *leads_);
    s->InsertLine(pos, std::move(line));
    return {true, true};
}

ProfileEngine::Result ProfileEngine::DeleteKey(std::string_view section, std::string_view key) {
    if (section != Trim(section) || key != Trim(key)) return {true, false};
    for (Section* s = FindSection(section); s != nullptr; s = NextOfSameName(s)) {
        const long idx = s->FindKey(key);
        if (idx < 0) continue;
        s->EraseLine(static_cast<size_t>(idx));
        return {true, true};
    }
    return {true, false};
}

ProfileEngine::Result ProfileEngine::DeleteSection(std::string_view section) {
    if (section != Trim(section)) return {true, false};
    Section* s = FindSection(section);
    if (s == nullptr) return {true, false};
    EraseSection(s);
    return {true, true};
}

namespace {

// The number that follows an ASCII `prefix` in a key name ("User12": 12), when
// the rest of the name is the number as Decimal writes it; nullopt otherwise.
std::optional<uint32_t> NumberAfter(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.size() - prefix.size() > 9) return std::nullopt;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (base::ToLowerAscii(name[i]) != base::ToLowerAscii(prefix[i])) return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
    uint32_t number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    return number;
}

bool IsPlainPrefix(std::string_view prefix) {
    if (prefix.empty() || prefix.front() == '[' || IsSpace(prefix.front()) || IsSpace(prefix.back())) return false;
    return std::all_of(prefix.begin(), prefix.end(), [](char c) { return c > 0x20 && c < 0x7F && c != '='; });
}

}  // namespace

std::optional<uint32_t> ProfileEngine::CloseNumberedGap(std::string_view section, std::string_view prefix,
                                                        uint32_t first, uint32_t last) {
    if (first == 0 || last > 1000000 || section != Trim(section) || !IsPlainPrefix(prefix)) return std::nullopt;
    Section* s = FindSection(section);
    if (s == nullptr || last < first) return first - 1;  // nothing to read, nothing to move
    std::vector<Line>& lines = s->Body();
    // Where each key of the numbers FIRST-1..LAST lies, and how often it occurs.
    const size_t span = last - first + 2;
    std::vector<uint32_t> count(span, 0);
    std::vector<size_t> at(span, 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Kind::Entry) continue;
        const std::optional<uint32_t> number = NumberAfter(lines[i].name(), prefix);
        if (!number || *number + 1 < first || *number > last) continue;
        ++count[*number + 1 - first];
        at[*number + 1 - first] = i;
    }
    if (count[0] != 0) return std::nullopt;
    uint32_t moved = first - 1;
    for (uint32_t n = first; n <= last && count[n + 1 - first] != 0; ++n) {
        const Line& line = lines[at[n + 1 - first]];
        if (count[n + 1 - first] != 1 || !line.has_value) return std::nullopt;
        const std::string_view v = line.value();
        if (v.empty() || IsQuoted(v) || v.find('\0') != std::string_view::npos) return std::nullopt;
        moved = n;
    }
    if (moved < first) return moved;

    // The lines the writes add, in order, go after the last non-blank line.
    std::vector<Line> added;
    added.reserve(moved - first + 1);
    std::string key(prefix);
    for (uint32_t n = first; n <= moved; ++n) {
        key.resize(prefix.size());
        key += std::to_string(n - 1);
        added.push_back(MakeEntry(Joined(key, lines[at[n + 1 - first]].value()), reparse_, *leads_));
    }
    size_t after = lines.size();
    while (after > 0 && (lines[after - 1].kind == Kind::Blank || lines[after - 1].kind == Kind::Dead)) --after;
    if (after == 0) return std::nullopt;  // (the list's own lines are not blank)
    if (lines[after - 1].eol == Eol::None) lines[after - 1].eol = Eol::CrLf;
    std::vector<bool> leaving(lines.size(), false);
    for (uint32_t n = first; n <= moved; ++n) leaving[at[n + 1 - first]] = true;
    std::vector<Line> body;
    body.reserve(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!leaving[i] && lines[i].kind != Kind::Dead) body.push_back(std::move(lines[i]));
        if (i + 1 == after)
            for (Line& line : added) body.push_back(std::move(line));
    }
    lines = std::move(body);
    s->dead = 0;
    s->Touch();
    return moved;
}

void ProfileEngine::ForEachNumberedValue(std::string_view section, std::string_view prefix, uint32_t first,
                                         uint32_t last, uint32_t size,
                                         const std::function<bool(const std::string&)>& visit) const {
    const auto blank = [](const std::string& v) { return v.find_first_not_of(' ') == std::string::npos; };
    if (size == 0 || first > last) return;
    const Section* s = FindSection(Trim(section));
    if (s == nullptr) return;
    std::string value;
    if (!IsPlainPrefix(prefix) || last - first > 1000000) {
        std::string key(prefix);
        for (uint32_t n = first; n <= last; ++n) {
            key.resize(prefix.size());
            key += std::to_string(n);
            GetString(section, key, size, value);
            if (blank(value) || !visit(value)) break;
        }
        return;
    }
    // The first line of each number, as a look-up of its key finds it.
    const std::vector<Line>& lines = s->Body();
    constexpr size_t kNone = SIZE_MAX;
    std::vector<size_t> at(last - first + 1, kNone);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Kind::Entry) continue;
        const std::optional<uint32_t> number = NumberAfter(lines[i].name(), prefix);
        if (number && *number >= first && *number <= last && at[*number - first] == kNone) at[*number - first] = i;
    }
    for (const size_t i : at) {
        if (i == kNone || !lines[i].has_value) break;
        const std::string_view v = lines[i].value();
        CopyValue(v.substr(0, v.find('\0')), size, value, *leads_);
        if (blank(value) || !visit(value)) break;
    }
}

ProfileEngine::Result ProfileEngine::WriteString(Name section, Name key, Name value) {
    if (!section) return {!key && !value, false};  // all null: a flush, nothing to do
    if (!key) return DeleteSection(*section);
    if (!value) return DeleteKey(*section, *key);
    return Finish(SetKey(*section, *key, *value));
}

ProfileEngine::Result ProfileEngine::WriteSection(Name section, Name content) {
    if (!section) return {!content, false};
    if (!content) return DeleteSection(*section);
    ScanAll();  // every section of the name loses its entries

    std::vector<std::string> entries;
    for (size_t i = 0; i < content->size();) {
        size_t j = content->find('\0', i);
        if (j == std::string_view::npos) j = content->size();
        const std::string_view entry = content->substr(i, j - i);
        if (entry.empty()) break;  // the double NUL ends the list
        i = j + 1;
        const size_t eq = entry.find('=');
        if (eq == std::string_view::npos) continue;
        entries.push_back(Joined(LTrim(entry.substr(0, eq)), LTrim(entry.substr(eq + 1))));
    }

    Section* const found = FindSection(Trim(*section));
    if (found == nullptr) {
        if (entries.empty()) return {true, false};
        Section& added = AppendSection(LTrim(*section));
        for (std::string& e : entries) added.lines.push_back(MakeEntry(std::move(e), reparse_, *leads_));
        return Finish({true, true});
    }

    bool changed = false;
    size_t n = 0;
    for (Section* occurrence = found; occurrence != nullptr; occurrence = occurrence->next_same, ++n) {
        Section& s = *occurrence;
        std::string before;
        s.AppendBytes(before);
        const size_t count = n == 0 ? entries.size() : 0;
        std::vector<size_t> slots;
        std::vector<Line>& lines = s.Body();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].slot()) slots.push_back(i);
        if (slots.empty()) {
            if (count > 0) {
                size_t pos = s.InsertionPoint();
                s.TerminateBefore(pos);
                for (size_t k = 0; k < count; ++k, ++pos)
                    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos),
                                  MakeEntry(entries[k], reparse_, *leads_));
            }
        } else {
            std::vector<Line> body;
            body.reserve(lines.size() + count);
            size_t k = 0;
            for (size_t i = 0; i < lines.size(); ++i) {
                if (!lines[i].slot()) {
                    body.push_back(std::move(lines[i]));
                    continue;
                }
                if (k < count) body.push_back(MakeEntry(entries[k], reparse_, *leads_));
                ++k;
                if (i == slots.back())
                    for (size_t extra = slots.size(); extra < count; ++extra)
                        body.push_back(MakeEntry(entries[extra], reparse_, *leads_));
            }
            lines = std::move(body);
        }
        s.Touch();
        std::string after;
        s.AppendBytes(after);
        changed = changed || before != after;
    }
    return Finish({true, changed});
}

}  // namespace quorvel::profile
