#pragma once
// Every match of a search text, for marking them in a view and counting them. Marking looks only
// at the text a view shows (plus the pattern's length each side), so its cost follows the
// window, not the document; the count goes through the whole text in slices of bounded size,
// resumed where the last slice ended, so a caller can spread it over idle time.

#include "core/editor/CustomCodeMemo.h"
#include "core/highlight/CodeMemoSearch.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::highlight {

class TMatchMarks {
public:
    struct Range {
        editor::TextOffset start, end;
        bool operator==(const Range&) const = default;
    };

    explicit TMatchMarks(const editor::TCustomCodeMemo& memo) : memo_(memo) {}

    // What to mark; an empty text marks nothing. A new request starts the count again.
    void SetRequest(const TSearchRequest& request);
    const TSearchRequest& Request() const { return request_; }
    bool Active() const { return !request_.text.empty() && !broken_; }

    // The matches that overlap [from, to), in order. Kept while the text, the request and the
    // range stay the same, so repainting an unchanged view searches nothing.
    const std::vector<Range>& Visible(editor::TextOffset from, editor::TextOffset to);
    // How many times the last Visible searched (for tests of the cache).
    std::uint64_t VisibleSearches() const { return visibleSearches_; }

    // Counts on through about `bytes` more of the text; true once the count is complete for
    // the text as it is now. An edit starts it again from the top.
    bool CountStep(std::size_t bytes);
    long long Count() const { return count_; }
    bool Counted() const { return counted_ && countGeneration_ == memo_.Store().Generation(); }
    // The count stops here: more matches than this are shown as "at least".
    static constexpr long long kCountLimit = 100000;

private:
    // Matches in text (which starts at offset base of the document) starting before `until`.
    void Scan(std::string_view text, editor::TextOffset base, editor::TextOffset until,
              std::vector<Range>* out, long long* count, editor::TextOffset* resume);
    bool IsWordAt(std::string_view text, std::size_t i) const;
    std::string Slice(editor::TextOffset from, editor::TextOffset to) const;
    void RestartCount();

    const editor::TCustomCodeMemo& memo_;
    TSearchRequest request_;
    TPlainSearcher plain_;
    TREParser parser_;
    bool broken_ = false; // a regular expression that does not compile

    std::vector<Range> visible_;
    editor::TextOffset visibleFrom_ = -1, visibleTo_ = -1;
    std::uint64_t visibleGeneration_ = 0;
    std::uint64_t visibleSearches_ = 0;

    long long count_ = 0;
    bool counted_ = false;
    editor::TextOffset countAt_ = 0;
    std::uint64_t countGeneration_ = 0;
};

} // namespace morvane::highlight
