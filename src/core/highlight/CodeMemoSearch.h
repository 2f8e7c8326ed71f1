#pragma once
// Find and replace for one editor control: the last search, the plain-text searcher with its
// skip table, the regular-expression parser, and the find, find next and replace operations the
// dialogs and the Search menu run. No window: prompts and reports go through callbacks.

#include "core/editor/CustomCodeMemo.h"
#include "core/highlight/PlainSearcher.h"
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
    sfWrapAround = 256, // past the end (the start) the search goes on from the other end
};

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
    bool wrap = false;          // a find goes on from the other end of the text
    bool wholeDocument = false; // a replace all starts at the top, not at the last match
};

// The prompt's answers.
enum class TReplaceAnswer { Yes, No, Cancel, All };

class TCodeMemoSearch {
public:
    explicit TCodeMemoSearch(editor::TCustomCodeMemo& memo);

    // The dialog's find handler: searches from the selection and selects the match. With wrap,
    // a search that reaches the end (the start) goes on from the other end up to where it
    // began; Wrapped() then says so.
    TSearchOutcome Find(const TSearchRequest& request);
    bool Wrapped() const { return wrapped_; }
    // A find request with the at-once flag: -1 when nothing was found (or the selection is at
    // the end searching down, at the start searching up); else the position of a plain match,
    // or the match start for a regular expression.
    std::intptr_t FindAtOnce(unsigned flags, std::string_view text);
    // Repeats the last search without a dialog. False when there was no last search.
    bool FindNext();
    // The replace handler. all: replace every match from the last found position (or the caret,
    // or the top with wholeDocument) on as one undo step; else ask for each match. Returns the
    // number of replacements.
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
    // only non-empty matches. A limit (not -1) ends the search once it has passed that offset.
    Match Search(const TSearchRequest& r, editor::TextOffset pos, bool forward, bool& error,
                 editor::TextOffset limit = -1);
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
    bool wrapped_ = false;
    std::uint64_t searchGeneration_ = 0;

    std::string snapshot_;
    const editor::TTextStore* snapshotStore_ = nullptr;
    std::uint64_t snapshotGeneration_ = 0;
    bool haveSnapshot_ = false;
};

} // namespace morvane::highlight
