#pragma once
// Find and replace for one editor control: the last search, the plain-text searcher with its
// skip table, the regular-expression parser, and the find, find next and replace operations the
// dialogs and the Search menu run. No window: prompts and reports go through callbacks.

#include "core/editor/CustomCodeMemo.h"
#include "core/highlight/REParser.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvane::platform {
class Dialogs;
}

namespace morvane::highlight {

// Flags of a find or replace request.
enum TSearchFlag : unsigned {
    sfAtOnce = 8,     // search at once without a dialog and return the position (or -1)
    sfMatchCase = 16, // for a new dialog: its match-case box starts checked
    sfRegExpr = 32,
    sfWholeWord = 64,
    sfBackward = 128,
};

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

// The replacement text of a regular-expression match: %n pieces, %% and the backslash escapes.
// piece(n) gives the text of piece n (1 to 255).
std::string ExpandReplacement(std::string_view pattern,
                              const std::function<std::string(int)>& piece);

// How a search ended.
enum class TSearchOutcome { Found, NotFound, Error, Stopped };

struct TSearchRequest {
    std::string text;
    bool matchCase = false;
    bool wholeWord = false;
    bool down = true;
    bool regExpr = false;
};

// The prompt's answers.
enum class TReplaceAnswer { Yes, No, Cancel, All };

class TCodeMemoSearch {
public:
    explicit TCodeMemoSearch(editor::TCustomCodeMemo& memo);

    // The dialog's find handler: searches from the selection and selects the match.
    TSearchOutcome Find(const TSearchRequest& request);
    // A find request with the at-once flag: -1 when nothing was found (or the selection is at
    // the end searching down, at the start searching up); else the position of a plain match,
    // or the match start for a regular expression.
    std::intptr_t FindAtOnce(unsigned flags, std::string_view text);
    // Repeats the last search without a dialog. False when there was no last search.
    bool FindNext();
    // The replace handler. all: replace every match from the last found position (or the caret)
    // on as one undo step; else ask for each match. Returns the number of replacements.
    long long Replace(const TSearchRequest& request, std::string_view replacement, bool all);

    // The replace dialog forgets the last found position when it opens.
    void ForgetLastFound() { lastFound_ = -1; }
    editor::TextOffset LastFound() const { return lastFound_; }
    const std::string& SearchText() const { return searchText_; }
    unsigned Flags() const { return flags_; }
    bool HasSearched() const { return hasSearched_; }
    TREParser& Parser() { return parser_; }

    // Where messages go; without dialogs they are dropped.
    platform::Dialogs* dialogs = nullptr;
    // When set, replaces the not-found message.
    std::function<void(editor::TCustomCodeMemo* sender, const std::string& text)> OnSearchFail;
    // Asks whether to replace one occurrence; unset answers Yes.
    std::function<TReplaceAnswer(const std::string& question)> OnConfirmReplace;
    // Called now and then during a search with the share of the text gone through (0 to 1);
    // true stops it. A stopped search (also one whose text changed meanwhile) reports nothing
    // and leaves the text and the selection as they were.
    std::function<bool(double done)> ShouldStop;
    // Called before the search reports or asks anything: a busy state that holds input back
    // ends there.
    std::function<void()> OnReport;

    // Texts of the reports.
    static std::string NotFoundText(std::string_view text);
    static std::string CompileErrorText(const TREParser& parser, std::string_view pattern);

private:
    struct Match {
        editor::TextOffset start = -1, end = -1;
    };
    // One match searched from pos in a direction; start -1 when none. Regular expressions give
    // only non-empty matches.
    Match Search(const TSearchRequest& r, editor::TextOffset pos, bool forward, bool& error);
    bool CompileOrReport(const TSearchRequest& r);
    // Starts a search that ShouldStop may stop; Halt asks it.
    void BeginSearch();
    bool Halt(double done);
    void ReportNotFound();
    void ReportError();
    // The document's text for the regular-expression matcher, copied once per text generation.
    std::string_view Snapshot();
    bool IsWordAt(editor::TextOffset off) const;
    void SnapToCharacters(editor::TextOffset& start, editor::TextOffset& end) const;
    long long ReplaceAll(const TSearchRequest& r, std::string_view replacement,
                         editor::TextOffset from);
    TSearchRequest Remembered() const;
    void Remember(const TSearchRequest& r);

    editor::TCustomCodeMemo& memo_;
    TPlainSearcher plain_;
    TREParser parser_;
    std::string searchText_;
    unsigned flags_ = 0;
    bool hasSearched_ = false;
    editor::TextOffset lastFound_ = -1;
    bool stopped_ = false;
    std::uint64_t searchGeneration_ = 0;

    std::string snapshot_;
    const editor::TTextStore* snapshotStore_ = nullptr;
    std::uint64_t snapshotGeneration_ = 0;
    bool haveSnapshot_ = false;
};

} // namespace morvane::highlight
