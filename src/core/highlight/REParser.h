#pragma once
// The search engine for regular expressions: compiles a pattern of the editor's dialect into a
// small node program and runs it with backtracking over a text whose line breaks are CR (13).
//
// Dialect: `.` is any character but CR; `^` steps over a CR (and also matches, empty, at the
// start of the text); `$` is just before a CR or at the end of the text; `"..."` is literal text;
// `\n` is 13 and `\r` is 10; `A||B` is A and B in either order, each optionally followed by the
// other. Matching is always case-sensitive.
//
// A match leaves a list of recorded positions: the start of every piece (a group counts as one
// piece, whatever it holds) and then the end. Piece n is the text from position n-1 to position
// n; a piece beyond the recorded ones is empty.
//
// Matching is bounded: a step budget per search and a recursion bound turn a pattern whose
// backtracking explodes into the error "Expression too complex" instead of a frozen program.

#include "core/highlight/ScanStream.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::highlight {

enum class TREError : int {
    None = 0,
    InvalidParameter,
    TooManySubExpressions,
    UnmatchedParenthesis,
    InvalidRepeat,
    NestedRepeat,
    InvalidRange,
    UnmatchedBracket,
    HexDigitExpected,
    UnexpectedEnd,
    QuoteExpected,
    InternalError,
    IndexRangeError,
    TooComplex,
    Stopped, // ShouldStop asked the search to stop
};

// The user-visible text of an error ("" for None).
const char* REErrorMessage(TREError error);

// Raised by Position for an index of 256 or more.
class ERegExprError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TREProgram; // the compiled node program (REProgram.h)

class TREParser {
public:
    TREParser();
    ~TREParser();
    TREParser(const TREParser&) = delete;
    TREParser& operator=(const TREParser&) = delete;

    // Compiles. False for an empty pattern or an error (ErrorNumber/ErrorPosition tell which).
    // The same text as last time is not compiled again: it gives the same result and error.
    bool SetExpression(std::string_view pattern);
    const std::string& Expression() const { return lastText_; }
    bool Compiled() const { return program_ != nullptr; }

    // Tries a match at the stream's position, then at each following position (forward) or each
    // preceding one (backward); backward from the end of the text it starts one character
    // earlier. On success the stream stands at the match start; on failure it is not moved.
    // A failure with ErrorNumber() != None is an error (not compiled, too complex), not a miss.
    bool Search(TScanStream& stream, bool forward);
    // The same over a text from a position.
    bool Search(std::string_view text, std::size_t from, bool forward);

    // Calls onMatch(start, end) for every match from `from` to the end of the text, in order,
    // until it returns false. After an empty match the next search starts one character on, so
    // zero-length matches never repeat. Returns the number of matches, or -1 on an error.
    long long ForEachMatch(std::string_view text, std::size_t from,
                           const std::function<bool(std::size_t, std::size_t)>& onMatch);

    // Recorded position i of the last match; past the recorded ones, the match end.
    // Throws ERegExprError("Index range error") for i >= 256.
    std::size_t Position(int i) const;
    std::size_t MatchStart() const { return matchStart_; }
    std::size_t MatchEnd() const { return matchEnd_; }
    std::size_t MatchLength() const { return matchEnd_ - matchStart_; }
    // Pieces recorded by the last match (at least 1 after a match; piece 1 may be the whole).
    int PieceCount() const;
    // Text range of piece n (1-based): Position(n-1) .. Position(n); empty beyond the pieces.
    std::size_t PieceStart(int n) const;
    std::size_t PieceEnd(int n) const;

    TREError ErrorNumber() const { return error_; }
    // 1-based character index in the pattern where the error was found (length+1: its end).
    std::size_t ErrorPosition() const { return errorPos_; }
    std::string ErrorText() const { return REErrorMessage(error_); }

    // UTF-8 text: a character of a set (`.`, `[^...]`) and each repeat of one take a whole
    // valid multi-byte character, and matches start only where a character starts. Stray
    // bytes stay characters of their own.
    void SetUtf8(bool on) { utf8_ = on; }
    bool Utf8() const { return utf8_; }

    // Called now and then during a long search with the position being tried; true stops the
    // search, which then fails with Stopped.
    std::function<bool(std::size_t position)> ShouldStop;
    // The steps the last search spent: node steps, and literals and repeats by the bytes they
    // went through.
    std::uint64_t StepsUsed() const { return stepsUsed_; }

    // Upper bounds of one search, adjustable for tests.
    void SetLimits(std::uint64_t stepBudget, int recursionDepth) {
        stepBudget_ = stepBudget;
        maxDepth_ = recursionDepth;
    }

private:
    bool Run(std::string_view text, std::size_t from, bool forward);

    std::string lastText_;
    bool haveLast_ = false;
    TREError compileError_ = TREError::None;
    std::size_t compileErrorPos_ = 0;

    std::unique_ptr<TREProgram> program_;
    TREError error_ = TREError::None;
    std::size_t errorPos_ = 0;

    std::vector<std::size_t> positions_;
    std::size_t matchStart_ = 0;
    std::size_t matchEnd_ = 0;

    std::uint64_t stepBudget_ = 20'000'000;
    int maxDepth_ = 5000;
    std::uint64_t stepsUsed_ = 0;
    bool utf8_ = false;
};

} // namespace morvane::highlight
