#pragma once
// Fixed-text search over an editor's store (or one piece of text), forward or backward,
// optionally ignoring case.

#include "core/editor/TextStore.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvane::highlight {

// Finds a fixed text in an editor's store, forward or backward, without copying the text.
// Ignoring case, bytes are compared folded. A skip search runs while its comparisons stay within
// a few times the text it passes; a pattern that would make it compare nearly everywhere hands
// over to Two-Way, whose work is linear in the text whatever the pattern.
class TPlainSearcher {
public:
    // Find's answer when poll stopped it.
    static constexpr editor::TextOffset kStopped = -2;

    // Rebuilds the skip table only when the pattern or the modes changed. utf8: the text is
    // UTF-8, so ignoring case folds Latin-1 letters as their two-byte forms.
    void Prepare(std::string_view pattern, bool matchCase, bool utf8 = false);
    const std::string& Pattern() const { return pattern_; }
    // The first hit starting at or after from (forward), or the last starting at or before from
    // (backward); -1 when there is none. accept may refuse a hit (whole-word rule); the search
    // then goes on one character further. poll, when given, is called before each piece of the
    // text with the offset reached; true stops the search (kStopped).
    editor::TextOffset Find(const editor::TTextStore& store, editor::TextOffset from, bool forward,
                            const std::function<bool(editor::TextOffset)>& accept = {},
                            const std::function<bool(editor::TextOffset)>& poll = {}) const;
    // The first hit in hay at or after from (npos when none), for texts already in one piece.
    std::size_t FindIn(std::string_view hay, std::size_t from) const;
    // Bytes compared by the last Find: its work, apart from the bytes skipped.
    std::uint64_t BytesCompared() const { return compared_; }

private:
    // A pattern prepared for Two-Way: its critical factorisation and period.
    struct TwoWay {
        std::string x;
        std::ptrdiff_t ell = -1;
        std::size_t per = 1;
        bool periodic = false;
        void Build(std::string pattern);
    };
    std::size_t FindForward(std::string_view hay, std::size_t from) const;
    // The last hit starting at or before last; npos when none.
    std::size_t FindBackward(std::string_view hay, std::size_t last) const;
    // The fold of hay[i] as the pattern was folded (in UTF-8 knowing the byte before it).
    unsigned char TextFold(const char* data, std::size_t i) const;
    // How many of the pattern's bytes agree with hay from at (all: the size of the pattern).
    std::size_t Agree(std::string_view hay, std::size_t at) const;
    // The first j <= n - m at which w.x matches y(j), y(j + 1), ...; npos when none.
    template <class Text> std::size_t TwoWayFirst(const TwoWay& w, std::size_t n, Text y) const;

    std::string pattern_;
    std::string folded_; // pattern_ upper-cased when !matchCase_
    bool matchCase_ = true;
    bool utf8_ = false;
    bool prepared_ = false;
    std::array<std::size_t, 256> skip_{};
    TwoWay ahead_;  // the folded pattern
    TwoWay behind_; // the folded pattern reversed, for backward searches
    mutable std::uint64_t compared_ = 0;
};

// Upper-cases an ASCII or Latin-1 letter (the comparison of case-insensitive searches).
unsigned char FoldCase(unsigned char c);

} // namespace morvane::highlight
