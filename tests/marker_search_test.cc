// The search of a marker in a page that arrives in pieces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/marker_search.h"
#include "platform/text.h"

namespace quorvel::host {
namespace {

// Feeds `page` cut at `cut` and says whether `marker` was found.
bool FoundWhenCut(std::u16string_view marker, const std::string& page, size_t cut) {
    MarkerSearch search(marker);
    search.Feed(std::string_view(page).substr(0, cut));
    search.Feed(std::string_view(page).substr(cut));
    return search.Finish();
}

TEST(MarkerSearch, AMarkerCutAnywhereIsFound) {
    const std::string page = "<p>the server is Overloaded now</p>";
    for (size_t cut = 0; cut <= page.size(); ++cut) {
        EXPECT_TRUE(FoundWhenCut(u"OVERLOADED", page, cut)) << cut;
        EXPECT_FALSE(FoundWhenCut(u"overloaded!", page, cut)) << cut;
    }
}

TEST(MarkerSearch, DoubleByteCharactersCutAnywhereAreJoinedAgain) {
    const std::string page = "ok " + platform::ToAnsi(u"服务器正在维护中") + " end";
    // The bytes of 器 and 正 read from the middle of one to the middle of the
    // other form another character, which a split decoding would find.
    const std::string misread = page.substr(3 + 5, 2);
    const std::u16string misread_text = platform::FromAnsi(misread);
    ASSERT_EQ(misread_text.size(), 1u);
    for (size_t cut = 0; cut <= page.size(); ++cut) {
        EXPECT_TRUE(FoundWhenCut(u"正在维护", page, cut)) << cut;
        EXPECT_TRUE(FoundWhenCut(u"中 END", page, cut)) << cut;
        EXPECT_FALSE(FoundWhenCut(misread_text, page, cut)) << cut;
    }
}

TEST(MarkerSearch, PiecesOfOneByteEach) {
    const std::string page = platform::ToAnsi(u"状态：正常 Status: OK");
    MarkerSearch search(u"常 status");
    bool found = false;
    for (char c : page) found = search.Feed(std::string_view(&c, 1));
    EXPECT_TRUE(found);
}

TEST(MarkerSearch, LetterCaseOfOtherAlphabetsToo) {
    EXPECT_TRUE(FoundWhenCut(u"ＯＫ", platform::ToAnsi(u"状态ｏｋ"), 3));
    EXPECT_TRUE(FoundWhenCut(u"ΑΒΓ", platform::ToAnsi(u"αβγ"), 2));
    EXPECT_TRUE(FoundWhenCut(u"привет", platform::ToAnsi(u"ПРИВЕТ"), 4));
    EXPECT_EQ(FoldCase(u'×'), u'×');
    EXPECT_EQ(FoldCase(u'中'), u'中');
}

TEST(MarkerSearch, EmptyMarkerNeedsSomeText) {
    MarkerSearch nothing(u"");
    nothing.Feed("");
    EXPECT_FALSE(nothing.Finish());
    MarkerSearch something(u"");
    EXPECT_TRUE(something.Feed(" "));
    // A lone lead byte at the very end is still a character of the page.
    MarkerSearch cut_short(u"");
    EXPECT_FALSE(cut_short.Feed("\xB0"));
    EXPECT_TRUE(cut_short.Finish());
}

TEST(MarkerSearch, AMarkerLongerThanEveryPieceSpansSeveral) {
    MarkerSearch search(u"abcdefghij");
    for (const char* piece : {"xxab", "cd", "ef", "g", "hij", "yy"}) search.Feed(piece);
    EXPECT_TRUE(search.found());
    MarkerSearch missing(u"abcdefghij");
    for (const char* piece : {"xxab", "cd", "eX", "g", "hij", "yy"}) missing.Feed(piece);
    EXPECT_FALSE(missing.Finish());
}

}  // namespace
}  // namespace quorvel::host
