// The Win32 ANSI profile-file (INI) functions over a buffer of bytes, without
// any I/O: the file layer (profile/profile.cc) loads, locks and stores files
// around it, the same in both builds. The behaviour choices are described at
// the top of profile_engine.cc.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quorvel::profile {

// The bytes that start a double-byte character in the ANSI code page. The
// byte after one is its second half, never an ASCII character, even when it
// has the value of '[', '\\', ']' or '|'.
class LeadBytes {
public:
    LeadBytes() = default;  // a single-byte code page
    LeadBytes(std::initializer_list<std::pair<unsigned char, unsigned char>> ranges);
    void Add(unsigned char first, unsigned char last);
    bool lead(char c) const { return table_[static_cast<unsigned char>(c)]; }

    // The double-byte code pages by number (any other has none).
    static const LeadBytes& ForCodePage(int code_page);
    static const LeadBytes& Gbk() { return ForCodePage(936); }

private:
    std::array<bool, 256> table_{};
};

// Hash and equality of profile names without regard to case, so that maps
// keyed by a folded name can be searched with any spelling of it.
struct ProfileNameHash {
    using is_transparent = void;
    const LeadBytes* leads;
    size_t operator()(std::string_view name) const;
};
struct ProfileNameEqual {
    using is_transparent = void;
    const LeadBytes* leads;
    bool operator()(std::string_view a, std::string_view b) const;
};

class ProfileEngine {
public:
    using Name = std::optional<std::string_view>;

    struct Result {
        bool ok = true;        // what the Win32 function returns
        bool changed = false;  // the file's bytes differ from before the call
    };

    ProfileEngine();  // empty, GBK
    explicit ProfileEngine(const LeadBytes& leads);
    ~ProfileEngine();
    ProfileEngine(ProfileEngine&&) noexcept;
    ProfileEngine& operator=(ProfileEngine&&) noexcept;
    ProfileEngine(const ProfileEngine&) = delete;
    ProfileEngine& operator=(const ProfileEngine&) = delete;

    // `leads` must outlive the engine (the tables of ForCodePage do). The
    // engine keeps `bytes`, which its lines view: a file read is moved in,
    // not copied.
    static ProfileEngine Parse(std::string bytes, const LeadBytes& leads = LeadBytes::Gbk());
    std::string Serialize() const;
    // Ends the engine and gives back the buffer it was parsed from, emptied
    // but with its room, for the next read of the file to fill.
    static std::string Recycle(ProfileEngine engine);
    bool empty() const;
    const LeadBytes* leads() const { return leads_; }

    // GetPrivateProfileStringA with a null default. `out` receives the bytes
    // the function copies before its terminating NUL; for the lists of a null
    // section or key these are the names, each followed by a NUL.
    uint32_t GetString(Name section, Name key, uint32_t size, std::string& out) const;

    // Visits the values GetString reads with a buffer of `size` bytes from
    // the keys PREFIX FIRST, PREFIX FIRST+1... of the section, up to the
    // first that reads blank (nothing, or spaces only), at most PREFIX LAST,
    // until `visit` returns false: a numbered list, read in one pass.
    void ForEachNumberedValue(std::string_view section, std::string_view prefix, uint32_t first, uint32_t last,
                              uint32_t size, const std::function<bool(const std::string&)>& visit) const;

    // The value of the key GetString finds, as the file holds it (quotes
    // kept, whole); nullopt when there is no such key or its line has no "=".
    std::optional<std::string_view> StoredValue(std::string_view section, std::string_view key) const;

    // WritePrivateProfileStringA: a null value deletes the key, a null key
    // the section.
    Result WriteString(Name section, Name key, Name value);
    // WritePrivateProfileSectionA: `content` holds NUL-separated entries and
    // ends at the first empty entry; null content deletes the section.
    Result WriteSection(Name section, Name content);
    Result DeleteSection(std::string_view section);

    // Closes the gap that deleting the key PREFIX(FIRST-1) left in a numbered
    // list: the keys PREFIX FIRST, PREFIX FIRST+1... (up to the first one
    // missing, or LAST) of the first section of that name each take the
    // number one lower, keeping their values. The bytes are those that
    // writing PREFIX(N-1) = the value of PREFIX N and then deleting PREFIX N,
    // for N = FIRST up to that key, leaves: the moved lines together, after
    // the section's last non-blank line, in CR LF. Done only for a list of
    // the usual shape: PREFIX(FIRST-1) is gone and the key after the list
    // is missing, each key of the list is there once, with a value that is
    // neither quoted nor holds a NUL, and the prefix is plain ASCII. Otherwise nothing changes and nullopt is
    // returned, for the caller to make the calls one by one. Returns the
    // number of the last key moved (FIRST - 1: none).
    std::optional<uint32_t> CloseNumberedGap(std::string_view section, std::string_view prefix, uint32_t first,
                                             uint32_t last);

    // Every line of the file in order, as the read functions see it: its
    // number (from 1), the section it lies in (the trimmed name of the header
    // above it, or of itself for a header; none before the first header), and
    // for a key line its trimmed name and, when it has a "=", the value a read
    // returns whole (one pair of outer quotes dropped, cut at a NUL). Reads
    // find the first section of a name and the first line of a key in it;
    // `first` says whether the line is that one.
    struct LineView {
        enum class Type { kOther, kHeader, kKey };
        uint32_t number = 0;
        Type type = Type::kOther;
        std::optional<std::string_view> section;
        bool first = true;  // of its section (a header), of its key in the section (a key)
        std::string_view key;
        bool has_value = false;
        std::string_view value;
    };
    void ForEachLine(const std::function<void(const LineView&)>& visit) const;

    // How many times a file was parsed in this process (for tests of caching).
    static uint64_t parse_count();

    struct Line;
    struct Section;

private:
    // The first section of that name; the others follow through Section::next_same.
    Section* FindSection(std::string_view trimmed_name) const;
    // Finds the next header; false once every one is found.
    bool ScanNext() const;
    void ScanAll() const;
    // Whether a header of that name lies in the bytes not scanned yet.
    bool HeaderAhead(std::string_view trimmed_name) const;
    // The section of the same name after `section`; null after the last.
    Section* NextOfSameName(const Section* section) const;
    void AddName(Section* section) const;
    Result SetKey(std::string_view section, std::string_view key, std::string_view value);
    Result DeleteKey(std::string_view section, std::string_view key);
    Section& AppendSection(std::string_view name);
    void EraseSection(Section* section);
    void TerminateLastLine();
    void Reparse();
    Result Finish(Result result);

    const LeadBytes* leads_;
    std::unique_ptr<std::string> source_;  // the parsed bytes, which lines view
    // The sections found so far, in file order; the bytes from scan_from_ on
    // are not looked at yet, and the last section found is pending (its
    // bytes, from scan_from_, end at the next header).
    static constexpr size_t kScanned = SIZE_MAX;
    mutable size_t scan_from_ = kScanned;
    mutable Section* pending_ = nullptr;
    // Names no header in the bytes from scan_from_ on has.
    mutable std::unordered_set<std::string, ProfileNameHash, ProfileNameEqual> absent_ahead_;
    mutable std::vector<Line> prefix_;  // bytes before the first header
    mutable std::vector<std::unique_ptr<Section>> sections_;
    // The sections of a name, first and last in file order, keyed by the
    // first one's header (never replaced, so the view lives as long as it).
    struct Named {
        Section* first = nullptr;
        Section* last = nullptr;
    };
    mutable std::unordered_map<std::string_view, Named, ProfileNameHash, ProfileNameEqual> by_name_;
    bool reparse_ = false;  // an edit wrote line breaks or a header: read the bytes again
};

// Profile names compare without regard to case, ASCII letters only and never
// the second byte of a double-byte character.
std::string FoldProfileName(std::string_view name, const LeadBytes& leads = LeadBytes::Gbk());

}  // namespace quorvel::profile
