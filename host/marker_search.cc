#include "host/marker_search.h"

#include "platform/text.h"

namespace quorvel::host {

char16_t FoldCase(char16_t c) {
    const auto shift = [c](int by) { return static_cast<char16_t>(c + by); };
    if (c >= u'A' && c <= u'Z') return shift(0x20);
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : shift(0x20);                    // Latin-1, not the multiplication sign
    if (c >= 0x391 && c <= 0x3A9) return c == 0x3A2 ? c : shift(0x20);    // Greek
    if (c >= 0x400 && c <= 0x40F) return shift(0x50);                     // Cyrillic Ѐ..Џ
    if (c >= 0x410 && c <= 0x42F) return shift(0x20);                     // Cyrillic А..Я
    if (c >= 0xFF21 && c <= 0xFF3A) return shift(0x20);                   // full-width Ａ..Ｚ
    return c;
}

namespace {

std::u16string Folded(std::u16string text) {
    for (char16_t& c : text) c = FoldCase(c);
    return text;
}

}  // namespace

MarkerSearch::MarkerSearch(std::u16string_view marker) : marker_(Folded(std::u16string(marker))) {}

bool MarkerSearch::Feed(std::string_view bytes) {
    if (found_ || bytes.empty()) return found_;
    std::string joined;
    if (!cut_.empty()) {
        joined = cut_ + std::string(bytes);
        bytes = joined;
    }
    const size_t complete = platform::CompleteAnsiLength(bytes);
    std::u16string text = platform::FromAnsi(bytes.substr(0, complete));
    cut_.assign(bytes.substr(complete));
    Search(std::move(text));
    return found_;
}

bool MarkerSearch::Finish() {
    if (!found_ && !cut_.empty()) {
        std::u16string text = platform::FromAnsi(cut_);
        cut_.clear();
        Search(std::move(text));
    }
    return found_;
}

// An empty marker is found in any text but the empty one.
void MarkerSearch::Search(std::u16string text) {
    if (text.empty()) return;
    std::u16string window = std::move(tail_);
    window += Folded(std::move(text));
    if (window.find(marker_) != std::u16string::npos) {
        found_ = true;
        tail_.clear();
        return;
    }
    const size_t keep = marker_.empty() ? 0 : marker_.size() - 1;
    tail_ = window.size() > keep ? window.substr(window.size() - keep) : std::move(window);
}

}  // namespace quorvel::host
