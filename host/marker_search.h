// The search for a marker text in a page that arrives in pieces, without
// regard to letter case. Only what the search still needs is kept: the bytes
// of a character cut between two pieces and the last characters of the text
// (one fewer than the marker has), so a page of any size costs the same memory.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::host {

class MarkerSearch {
public:
    explicit MarkerSearch(std::u16string_view marker);

    // The next bytes of the page, in the system code page; true once the
    // marker has been found (more bytes are not needed then).
    bool Feed(std::string_view bytes);
    // The end of the page: an unfinished character counts as one of its own.
    bool Finish();

    bool found() const { return found_; }

private:
    void Search(std::u16string text);

    std::u16string marker_;  // folded
    std::string cut_;        // the start of a character cut by a piece's end
    std::u16string tail_;    // folded, at most marker_.size() - 1 long
    bool found_ = false;
};

// The letter-case fold used by the search: upper-case letters of the basic
// Latin, Latin-1, Greek, Cyrillic and full-width Latin ranges become lower
// case, one code unit for one.
char16_t FoldCase(char16_t c);

}  // namespace quorvel::host
