// The profile engine against the Win32 rules: reads, in-place edits and the
// exact bytes of the files it writes.
#include "profile/engine/profile_engine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvel::profile {
namespace {

using namespace std::string_literals;
using Name = std::optional<std::string_view>;
constexpr Name kNull = std::nullopt;

struct Read {
    uint32_t count;
    std::string text;
    bool operator==(const Read&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Read& r) { return os << r.count << " '" << r.text << "'"; }

Read Get(const ProfileEngine& e, Name section, Name key, uint32_t size = 256) {
    std::string out;
    const uint32_t n = e.GetString(section, key, size, out);
    return {n, out};
}

// The file after one WritePrivateProfileString on `start`.
std::string AfterWrite(std::string_view start, Name section, Name key, Name value) {
    ProfileEngine e = ProfileEngine::Parse(std::string(start));
    EXPECT_TRUE(e.WriteString(section, key, value).ok);
    return e.Serialize();
}

std::string AfterSection(std::string_view start, Name section, Name content) {
    ProfileEngine e = ProfileEngine::Parse(std::string(start));
    EXPECT_TRUE(e.WriteSection(section, content).ok);
    return e.Serialize();
}

TEST(ProfileEngine, BlanksAreTrimmedFromNamesValuesAndArguments) {
    const auto e = ProfileEngine::Parse("  [  GLOBAL  ]  \r\n[\tDOMAINS\t]\r\n  Key1  =  v1  \r\nKey 4=four\r\nBlank= \t\r\n");
    EXPECT_EQ(Get(e, " GLOBAL ", kNull), (Read{0, ""}));
    EXPECT_EQ(Get(e, kNull, kNull), (Read{15, "GLOBAL\0DOMAINS\0"s}));
    EXPECT_EQ(Get(e, "DOMAINS", " Key1 "), (Read{2, "v1"}));
    EXPECT_EQ(Get(e, "DOMAINS", "Key 4"), (Read{4, "four"}));
    EXPECT_EQ(Get(e, "DOMAINS", "Key4"), (Read{0, ""}));
    EXPECT_EQ(Get(e, "DOMAINS", "Blank"), (Read{0, ""}));
}

TEST(ProfileEngine, WrittenValuesLoseLeadingBlanksOnly) {
    EXPECT_EQ(AfterWrite("[s]\r\n", "s", "k", "  v  "), "[s]\r\nk=v  \r\n");
    // Padded names: matched trimmed, created without the leading blanks.
    EXPECT_EQ(AfterWrite("[s]\r\nk=1\r\n", " s ", " k ", "2"), "[s]\r\nk=2\r\n");
    EXPECT_EQ(AfterWrite("", " NewSec ", " NewKey ", "v"), "[NewSec ]\r\nNewKey =v\r\n");
    // Deletion matches the name exactly as given.
    EXPECT_EQ(AfterWrite("[s]\r\nVersion=1\r\n", "s", " Version ", kNull), "[s]\r\nVersion=1\r\n");
    EXPECT_EQ(AfterWrite("[s]\r\nVersion=1\r\n", " s ", kNull, kNull), "[s]\r\nVersion=1\r\n");
}

TEST(ProfileEngine, OneOuterPairOfQuotesIsStripped) {
    const auto e = ProfileEngine::Parse(
        "[q]\r\na=\"quoted\"\r\nb='single'\r\nc=\"\"\r\nd=\"a\"b\"\r\ne=\"\"x\"\"\r\nf=\"'both'\"\r\n"
        "g=  \"spaced\"  \r\nh=\"unbalanced\r\ni='mixed\"\r\nj=in\"side\"\r\nk=\"\r\n");
    const std::pair<const char*, const char*> cases[] = {
        {"a", "quoted"}, {"b", "single"}, {"c", ""},          {"d", "a\"b"},        {"e", "\"x\""},
        {"f", "'both'"}, {"g", "spaced"}, {"h", "\"unbalanced"}, {"i", "'mixed\""}, {"j", "in\"side\""},
        {"k", "\""}};
    for (const auto& [key, want] : cases) EXPECT_EQ(Get(e, "q", key).text, want) << key;
    // Writes keep quotes as given.
    EXPECT_EQ(AfterWrite("", "q", "k", "\"v\""), "[q]\r\nk=\"v\"\r\n");
}

TEST(ProfileEngine, QuotedValueInASmallBuffer) {
    const auto e = ProfileEngine::Parse("[q]\r\nq=\"abcdef\"\r\n");
    EXPECT_EQ(Get(e, "q", "q", 8), (Read{6, "abcdef"}));
    EXPECT_EQ(Get(e, "q", "q", 7), (Read{5, "abcde"}));  // the closing quote costs one more
    EXPECT_EQ(Get(e, "q", "q", 6), (Read{5, "abcde"}));
    EXPECT_EQ(Get(e, "q", "q", 1), (Read{0, ""}));
}

TEST(ProfileEngine, NamesIgnoreAsciiCaseOnly) {
    ProfileEngine e = ProfileEngine::Parse("[GLOBAL]\r\nVersion=1\r\n");
    EXPECT_EQ(Get(e, "global", "VERSION"), (Read{1, "1"}));
    e.WriteString("global", "VERSION", "2");
    EXPECT_EQ(e.Serialize(), "[GLOBAL]\r\nVersion=2\r\n");

    // Full-width letters (GBK) are different names in either case.
    const std::string upper = "\xA3\xC1\xA3\xC2", lower = "\xA3\xE1\xA3\xE2";
    ProfileEngine g = ProfileEngine::Parse("[s]\r\n" + upper + "=1\r\n");
    g.WriteString("s", lower, "2");
    EXPECT_EQ(g.Serialize(), "[s]\r\n" + upper + "=1\r\n" + lower + "=2\r\n");
    // A trail byte that is an ASCII letter is not folded: 81 41 and 81 61 differ.
    ProfileEngine t = ProfileEngine::Parse("[s]\r\n\x81\x41=a\r\n");
    EXPECT_EQ(Get(t, "s", "\x81\x61"), (Read{0, ""}));
    EXPECT_EQ(Get(t, "s", "\x81\x41"), (Read{1, "a"}));
    EXPECT_EQ(FoldProfileName("AbC\x81\x41Z"), "abc\x81\x41z");
}

TEST(ProfileEngine, NewKeysGoAfterTheSectionsLastNonBlankLine) {
    EXPECT_EQ(AfterWrite("[a]\r\nk=1\r\n; note\r\n\r\n\r\n[b]\r\n", "a", "n", "2"),
              "[a]\r\nk=1\r\n; note\r\nn=2\r\n\r\n\r\n[b]\r\n");
    EXPECT_EQ(AfterWrite("[a]\r\n\r\n[b]\r\n", "a", "n", "2"), "[a]\r\nn=2\r\n\r\n[b]\r\n");
    EXPECT_EQ(AfterWrite("[a]\r\nx\r\n[b]\r\n", "A", "n", ""), "[a]\r\nx\r\nn=\r\n[b]\r\n");
    // Into the first of two sections of that name.
    EXPECT_EQ(AfterWrite("[a]\r\n[b]\r\n[A]\r\n", "a", "n", "1"), "[a]\r\nn=1\r\n[b]\r\n[A]\r\n");
}

TEST(ProfileEngine, NewSectionsAreAppendedWithoutABlankLine) {
    EXPECT_EQ(AfterWrite("", "s", "k", "v"), "[s]\r\nk=v\r\n");
    EXPECT_EQ(AfterWrite("[a]\r\nk=1\r\n\r\n", "b", "k", "2"), "[a]\r\nk=1\r\n\r\n[b]\r\nk=2\r\n");
    // An unterminated last line keeps its bytes and gets CR LF.
    EXPECT_EQ(AfterWrite("[a]\nk=1", "b", "k", "2"), "[a]\nk=1\r\n[b]\r\nk=2\r\n");
    EXPECT_EQ(AfterWrite("[a]\nk=1", "a", "j", "2"), "[a]\nk=1\r\nj=2\r\n");
    // Bytes before the first header, NULs included, stay as they are.
    const std::string junk = "Data \0 before \0 first \0 section"s;
    EXPECT_EQ(AfterWrite(junk, "section1", "key1", "string1"), junk + "\r\n[section1]\r\nkey1=string1\r\n");
}

TEST(ProfileEngine, EditsInPlaceKeepEveryOtherLine) {
    const std::string start = "; head\n[a]\n  k1 = old  \n\tk2=2\n\n[b] ; trailing\r\nx=1\r";
    EXPECT_EQ(AfterWrite(start, "a", "K1", "new"),
              "; head\n[a]\nk1=new\r\n\tk2=2\n\n[b] ; trailing\r\nx=1\r");
    EXPECT_EQ(AfterWrite(start, "a", "k2", kNull), "; head\n[a]\n  k1 = old  \n\n[b] ; trailing\r\nx=1\r");
    // Writing the value a key has changes nothing, whatever its spacing.
    ProfileEngine e = ProfileEngine::Parse(start);
    EXPECT_FALSE(e.WriteString("a", "k1", "  old").changed);
    EXPECT_FALSE(e.WriteString("a", "missing", kNull).changed);
    EXPECT_FALSE(e.WriteString("zz", kNull, kNull).changed);
    EXPECT_EQ(e.Serialize(), start);
    // A trailing blank is a different value: written, but not read back.
    EXPECT_TRUE(e.WriteString("b", "x", "1 ").changed);
    EXPECT_EQ(Get(e, "b", "x"), (Read{1, "1"}));
}

TEST(ProfileEngine, ReadsAnyLineEnding) {
    const auto e = ProfileEngine::Parse("[a]\rk=1\r[b]\nk=2\r\n[c]\r\r\nk=3");
    EXPECT_EQ(Get(e, "a", "k").text, "1");
    EXPECT_EQ(Get(e, "b", "k").text, "2");
    EXPECT_EQ(Get(e, "c", "k").text, "3");
}

TEST(ProfileEngine, CommentsAndMalformedLines) {
    const auto e = ProfileEngine::Parse(
        "[s]\r\n;Password=secret\r\n#Hash=h\r\n# hash line\r\nDomain1=x ; trailing text\r\nplain\r\n"
        "a=b=c\r\nx = = y\r\n[b]c]\r\nk=1\r\n[d]x\r\nk=2\r\n[nobracket\r\n]\r\n");
    EXPECT_EQ(Get(e, "s", ";Password").text, "secret");
    EXPECT_EQ(Get(e, "s", "#Hash").text, "h");
    EXPECT_EQ(Get(e, "s", "Domain1").text, "x ; trailing text");
    EXPECT_EQ(Get(e, "s", "plain"), (Read{0, ""}));
    EXPECT_EQ(Get(e, "s", "a").text, "b=c");
    EXPECT_EQ(Get(e, "s", "x").text, "= y");
    EXPECT_EQ(Get(e, "s", kNull).text, "#Hash\0Domain1\0a\0x\0"s);
    EXPECT_EQ(Get(e, "b]c", "k").text, "1");
    EXPECT_EQ(Get(e, "d", "k").text, "2");
    EXPECT_EQ(Get(e, kNull, kNull).text, "s\0b]c\0d\0"s);
    // Writing a key named like a line without '=' gives that line a value.
    EXPECT_EQ(AfterWrite("[s]\r\nplain\r\n", "s", "PLAIN", "v"), "[s]\r\nplain=v\r\n");
}

TEST(ProfileEngine, DuplicateSectionsAndKeys) {
    ProfileEngine e = ProfileEngine::Parse("[a]\r\nk=1\r\nk=2\r\n[A]\r\nk=3\r\nonly=4\r\n");
    EXPECT_EQ(Get(e, "a", "k").text, "1");
    EXPECT_EQ(Get(e, "a", "only"), (Read{0, ""}));
    EXPECT_EQ(Get(e, "a", kNull).text, "k\0k\0"s);
    EXPECT_EQ(Get(e, kNull, kNull).text, "a\0A\0"s);
    e.WriteString("a", "k", kNull);
    EXPECT_EQ(Get(e, "a", "k").text, "2");
    e.WriteString("a", kNull, kNull);
    EXPECT_EQ(Get(e, "a", "k").text, "3");
    EXPECT_EQ(e.Serialize(), "[A]\r\nk=3\r\nonly=4\r\n");
}

TEST(ProfileEngine, BufferSizeRules) {
    const auto e = ProfileEngine::Parse("[s]\r\nv=abcdef\r\ng=\xD6\xD0\xCE\xC4\r\n[t]\r\nab=1\r\ncd=2\r\n");
    EXPECT_EQ(Get(e, "s", "v", 0), (Read{0, ""}));
    EXPECT_EQ(Get(e, "s", "v", 1), (Read{0, ""}));
    EXPECT_EQ(Get(e, "s", "v", 4), (Read{3, "abc"}));
    EXPECT_EQ(Get(e, "s", "v", 7), (Read{6, "abcdef"}));
    EXPECT_EQ(Get(e, "s", "missing"), (Read{0, ""}));
    EXPECT_EQ(Get(e, "nosuch", "v"), (Read{0, ""}));
    // A cut inside a double-byte character keeps Size-1 bytes.
    EXPECT_EQ(Get(e, "s", "g", 4), (Read{3, "\xD6\xD0\xCE"}));
    EXPECT_EQ(Get(e, "s", "g", 5), (Read{4, "\xD6\xD0\xCE\xC4"}));
    // Lists need a spare byte; a cut list counts Size-2.
    EXPECT_EQ(Get(e, "t", kNull, 8), (Read{6, "ab\0cd\0"s}));
    EXPECT_EQ(Get(e, "t", kNull, 7), (Read{5, "ab\0cd"s}));
    EXPECT_EQ(Get(e, "t", kNull, 5), (Read{3, "ab\0"s}));
    EXPECT_EQ(Get(e, "t", kNull, 2), (Read{0, ""}));
    EXPECT_EQ(Get(e, kNull, kNull, 5), (Read{3, "s\0t"s}));
}

TEST(ProfileEngine, SectionWriteReplacesEntriesAndKeepsComments) {
    const std::string start = "[a]\r\n; first\r\nk1=1\r\n; second\r\nk2=2\r\nloose\r\n\r\n[b]\r\nz=1\r\n";
    EXPECT_EQ(AfterSection(start, "A", "k1=9\0k2=8\0k3=7\0\0"s),
              "[a]\r\n; first\r\nk1=9\r\n; second\r\nk2=8\r\nk3=7\r\n\r\n[b]\r\nz=1\r\n");
    EXPECT_EQ(AfterSection(start, "a", "only=1\0\0"s), "[a]\r\n; first\r\nonly=1\r\n; second\r\n\r\n[b]\r\nz=1\r\n");
    EXPECT_EQ(AfterSection(start, "a", "\0\0"s), "[a]\r\n; first\r\n; second\r\n\r\n[b]\r\nz=1\r\n");
    EXPECT_EQ(AfterSection(start, "a", kNull), "[b]\r\nz=1\r\n");
    // Entries: no '=' dropped, duplicates kept, blanks before names and values dropped.
    EXPECT_EQ(AfterSection("", "n", " k1 = v1 \0plain\0; note\0   \0dup=1\0dup=2\0=x\0\0"s),
              "[n]\r\nk1 =v1 \r\ndup=1\r\ndup=2\r\n=x\r\n");
    // Empty content for a missing section creates nothing.
    ProfileEngine e = ProfileEngine::Parse("[a]\r\n");
    EXPECT_FALSE(e.WriteSection("new", "\0\0"s).changed);
    // Every section of the name is emptied; the first gets the entries.
    EXPECT_EQ(AfterSection("[d]\r\na=1\r\n[x]\r\n[D]\r\nb=2\r\n", "d", "c=3\0\0"s), "[d]\r\nc=3\r\n[x]\r\n[D]\r\n");
}

TEST(ProfileEngine, DeletionRules) {
    EXPECT_EQ(AfterWrite("[s]\r\nk=1\r\n", "s", "k", kNull), "[s]\r\n");
    EXPECT_EQ(AfterWrite("[a]\r\nk=1\r\n; about b\r\n[b]\r\n; inner\r\nk=2\r\n\r\n[c]\r\n", "b", kNull, kNull),
              "[a]\r\nk=1\r\n; about b\r\n[c]\r\n");
    ProfileEngine e = ProfileEngine::Parse("[s]\r\n");
    EXPECT_EQ(Get(e, kNull, kNull).text, "s\0"s);
    const auto none = e.WriteString("s", "missing", kNull);
    EXPECT_TRUE(none.ok);
    EXPECT_FALSE(none.changed);
    EXPECT_FALSE(e.WriteString(kNull, "k", "v").ok);
    EXPECT_TRUE(e.WriteString(kNull, kNull, kNull).ok);
}

TEST(ProfileEngine, EmptyNames) {
    ProfileEngine e = ProfileEngine::Parse("k=top\r\n[]\r\nk=empty\r\n[s]\r\n=nokey\r\n");
    EXPECT_EQ(Get(e, "", "k").text, "empty");
    EXPECT_EQ(Get(e, "s", "").text, "nokey");
    EXPECT_EQ(Get(e, "s", kNull), (Read{1, "\0"s})) << "an empty name is listed as a lone NUL";
    e.WriteString("s", "", "v");
    e.WriteString("", "j", "1");
    EXPECT_EQ(e.Serialize(), "k=top\r\n[]\r\nk=empty\r\nj=1\r\n[s]\r\n=v\r\n");
    EXPECT_EQ(AfterWrite("[s]\r\n", "", "k", "v"), "[s]\r\n[]\r\nk=v\r\n");
}

TEST(ProfileEngine, RawLineBreaksAndHeadersAreReadBack) {
    ProfileEngine e = ProfileEngine::Parse("[s]\r\n");
    e.WriteString("s", "a", "x\r\nInjected=1");
    EXPECT_EQ(e.Serialize(), "[s]\r\na=x\r\nInjected=1\r\n");
    EXPECT_EQ(Get(e, "s", "a").text, "x");
    EXPECT_EQ(Get(e, "s", "Injected").text, "1");
    e.WriteString("s", "a=b", "v");
    EXPECT_EQ(Get(e, "s", "a").text, "x");  // the first 'a' line still wins
    e.WriteString("s", "[x]", "y");
    EXPECT_EQ(e.Serialize(), "[s]\r\na=x\r\nInjected=1\r\na=b=v\r\n[x]=y\r\n");
    EXPECT_EQ(Get(e, kNull, kNull).text, "s\0x\0"s);
}

TEST(ProfileEngine, GbkTrailBytesNeverActAsAscii) {
    // 0x5B '[', 0x5C '\', 0x5D ']', 0x7C '|' as second bytes.
    const std::string sec = "\x81\x5D\x81\x5B", key = "\x81\x5C|\x81\x7C", value = "\xB0\x5D\xB0\x5B";
    ProfileEngine e = ProfileEngine::Parse("");
    e.WriteString(sec, key, value);
    EXPECT_EQ(e.Serialize(), "[" + sec + "]\r\n" + key + "=" + value + "\r\n");
    const auto again = ProfileEngine::Parse(e.Serialize());
    EXPECT_EQ(Get(again, sec, key), (Read{4, value}));
    EXPECT_EQ(Get(again, kNull, kNull).text, sec + '\0');
    // "[" + 81 5D: the only ']' is half a character, so this is no header.
    EXPECT_EQ(Get(ProfileEngine::Parse("[\x81\x5D\r\nk=1\r\n"), kNull, kNull).text, "");
}

// A long section is searched through an index that edits keep up to date
// instead of building it again: each read below has an answer that an index
// gone stale after an edit, or one that folds a double-byte name's second
// byte, gets wrong.
TEST(ProfileEngine, ALongSectionsIndexStaysTrueThroughEdits) {
    std::string file = "[Domain1]\r\n";
    for (int i = 1; i <= 300; ++i) file += "User" + std::to_string(i) + "=user" + std::to_string(i) + "\r\n";
    // A later duplicate, and two names that differ only in the second byte
    // of a double-byte character ('A' and 'a').
    file += "User7=second\r\n\x81\x41=upper\r\n\x81\x61=lower\r\n\r\n[Next]\r\nk=1\r\n";
    ProfileEngine e = ProfileEngine::Parse(file);
    EXPECT_EQ(Get(e, "Domain1", "uSER150"), (Read{7, "user150"}));
    EXPECT_EQ(Get(e, "Domain1", "\x81\x41"), (Read{5, "upper"}));
    EXPECT_EQ(Get(e, "Domain1", "\x81\x61"), (Read{5, "lower"}));

    // Deleting the first of two keys of a name uncovers the second.
    e.WriteString("Domain1", "User7", kNull);
    EXPECT_EQ(Get(e, "Domain1", "User7"), (Read{6, "second"}));
    e.WriteString("Domain1", "User7", kNull);
    EXPECT_EQ(Get(e, "Domain1", "User7").count, 0u);
    // A key added after the index was made is found; a changed one reads new.
    e.WriteString("Domain1", "User7", "again");
    e.WriteString("Domain1", "User8", "changed");
    EXPECT_EQ(Get(e, "Domain1", "user7"), (Read{5, "again"}));
    EXPECT_EQ(Get(e, "Domain1", "USER8"), (Read{7, "changed"}));

    // Enough deletions that the section drops its dead lines: every name
    // left is still found, and no deleted one.
    for (int i = 100; i <= 299; ++i) e.WriteString("Domain1", "User" + std::to_string(i), kNull);
    e.WriteString("Domain1", "User301", "new");
    for (int i = 1; i <= 301; ++i) {
        const std::string key = "user" + std::to_string(i);
        const Read got = Get(e, "Domain1", key);
        if (i == 7) {
            EXPECT_EQ(got.text, "again");
        } else if (i == 8) {
            EXPECT_EQ(got.text, "changed");
        } else if (i == 301) {
            EXPECT_EQ(got.text, "new");
        } else if (i >= 100 && i <= 299) {
            EXPECT_EQ(got.count, 0u) << key;
        } else {
            EXPECT_EQ(got.text, key) << key;
        }
    }
    EXPECT_EQ(Get(e, "Domain1", "\x81\x61").text, "lower");

    std::string expected = "[Domain1]\r\n";
    for (int i = 1; i <= 300; ++i) {
        if (i >= 100 && i <= 299) continue;
        if (i == 7) continue;
        expected += "User" + std::to_string(i) + "=" + (i == 8 ? "changed" : "user" + std::to_string(i)) + "\r\n";
    }
    expected += "\x81\x41=upper\r\n\x81\x61=lower\r\nUser7=again\r\nUser301=new\r\n\r\n[Next]\r\nk=1\r\n";
    EXPECT_EQ(e.Serialize(), expected);
}

// Random edits of a long section with few names, many of them twice: after
// every edit each name reads what a fresh parse of the same bytes reads, so
// an index mended wrongly by an insertion, a deletion or a move of the
// entries after a removed one is caught at once.
TEST(ProfileEngine, EditedIndexAnswersAsAFreshParse) {
    std::string file = "[List]\r\n";
    for (int i = 0; i < 120; ++i) file.append("K").append(std::to_string(i % 50)).append("=v").append(std::to_string(i)).append("\r\n");
    file += "\r\n[Other]\r\nK1=other\r\n";
    ProfileEngine e = ProfileEngine::Parse(file);
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int round = 0; round < 600; ++round) {
        std::string key = next(2) == 0 ? "k" : "K";
        key += std::to_string(next(60));
        if (next(3) == 0) {
            e.WriteString("List", key, kNull);
        } else {
            e.WriteString("List", key, std::string("r").append(std::to_string(round)));
        }
        const ProfileEngine fresh = ProfileEngine::Parse(e.Serialize());
        for (int k = 0; k < 60; ++k) {
            const std::string name = std::string("K").append(std::to_string(k));
            ASSERT_EQ(Get(e, "List", name), Get(fresh, "List", name)) << "round " << round << ", " << name;
        }
    }
    EXPECT_EQ(Get(e, "Other", "K1").text, "other");
}

// Sections are found as reads ask for them: a read of an early section
// answers before the rest is looked at, and a read, a list or a write after
// it sees the whole file as one parse of it would.
TEST(ProfileEngine, SectionsFoundOnDemandReadAsAWholeParse) {
    const std::string file =
        "junk\r\n[A]\r\nk=a1\r\n  [B] \r\nk=b\r\nv=[x]\r\n[A]\r\nk=a2\r\nonly=second\r\n[C]\nk=c";
    {
        ProfileEngine e = ProfileEngine::Parse(file);
        EXPECT_EQ(Get(e, "A", "k").text, "a1");
        EXPECT_EQ(Get(e, "a", "only").count, 0u);  // the first [A] only
        EXPECT_EQ(e.Serialize(), file);
    }
    {
        ProfileEngine e = ProfileEngine::Parse(file);
        EXPECT_EQ(Get(e, "B", "v").text, "[x]");
        EXPECT_EQ(Get(e, "C", "k").text, "c");
        EXPECT_EQ(Get(e, "D", "k").count, 0u);
        EXPECT_EQ(Get(e, kNull, kNull).text, "A\0B\0A\0C\0"s);
    }
    {
        ProfileEngine e = ProfileEngine::Parse(file);
        EXPECT_EQ(Get(e, "A", "k").text, "a1");
        EXPECT_TRUE(e.WriteString("A", "k", "new").changed);
        EXPECT_TRUE(e.WriteString("D", "k", "d").changed);
        EXPECT_EQ(e.Serialize(),
                  "junk\r\n[A]\r\nk=new\r\n  [B] \r\nk=b\r\nv=[x]\r\n[A]\r\nk=a2\r\nonly=second\r\n[C]\nk=c\r\n"
                  "[D]\r\nk=d\r\n");
    }
    {
        // Deletions and edits of early sections leave the rest as it came.
        ProfileEngine e = ProfileEngine::Parse(file);
        EXPECT_TRUE(e.WriteString("A", "k", kNull).changed);
        EXPECT_EQ(e.Serialize(), "junk\r\n[A]\r\n  [B] \r\nk=b\r\nv=[x]\r\n[A]\r\nk=a2\r\nonly=second\r\n[C]\nk=c");
        EXPECT_TRUE(e.WriteString("A", "only", kNull).changed);  // from the second [A]
        EXPECT_FALSE(e.WriteString("A", "none", kNull).changed);
        EXPECT_TRUE(e.DeleteSection("B").changed);
        EXPECT_EQ(e.Serialize(), "junk\r\n[A]\r\n[A]\r\nk=a2\r\n[C]\nk=c");
    }
    {
        ProfileEngine e = ProfileEngine::Parse(file);
        EXPECT_TRUE(e.DeleteSection("A").changed);
        EXPECT_EQ(Get(e, "A", "k").text, "a2");  // the second is the first now
        EXPECT_TRUE(e.WriteString("B", "k", "B").changed);
        EXPECT_EQ(e.Serialize(), "junk\r\n  [B] \r\nk=B\r\nv=[x]\r\n[A]\r\nk=a2\r\nonly=second\r\n[C]\nk=c");
    }
    {
        // Many look-ups of missing sections (past the point where the rest
        // is indexed at once) still find what is there.
        ProfileEngine e = ProfileEngine::Parse(file);
        EXPECT_EQ(Get(e, "A", "k").text, "a1");
        for (int i = 0; i < 300; ++i) EXPECT_EQ(Get(e, std::string("M").append(std::to_string(i)), "k").count, 0u);
        EXPECT_EQ(Get(e, "C", "k").text, "c");
        EXPECT_TRUE(e.WriteString("C", "k", "C").changed);
        EXPECT_EQ(e.Serialize(), "junk\r\n[A]\r\nk=a1\r\n  [B] \r\nk=b\r\nv=[x]\r\n[A]\r\nk=a2\r\nonly=second\r\n[C]\nk=C\r\n");
    }
    {
        ProfileEngine e = ProfileEngine::Parse(file);
        EXPECT_EQ(Get(e, "B", "k").text, "b");
        ProfileEngine moved = std::move(e);
        EXPECT_EQ(Get(moved, "C", "k").text, "c");
        EXPECT_EQ(moved.Serialize(), file);
    }
}

}  // namespace
}  // namespace quorvel::profile
