#include "core/highlight/MatchMarks.h"

#include <algorithm>

namespace morvane::highlight {

using editor::TextOffset;
using editor::TTextStore;

namespace {
// A regular expression's slice of the text ends at a line break within this many bytes past
// where it was meant to end, so that line anchors see whole lines.
constexpr TextOffset kLineReach = 64 * 1024;
} // namespace

void TMatchMarks::SetRequest(const TSearchRequest& r) {
    if (r.text == request_.text && r.matchCase == request_.matchCase &&
        r.wholeWord == request_.wholeWord && r.regExpr == request_.regExpr)
        return;
    request_ = r;
    broken_ = false;
    if (r.regExpr && !r.text.empty()) broken_ = !parser_.SetExpression(r.text);
    visibleFrom_ = visibleTo_ = -1;
    visible_.clear();
    RestartCount();
}

void TMatchMarks::RestartCount() {
    count_ = 0;
    counted_ = false;
    countAt_ = 0;
    countGeneration_ = memo_.Store().Generation();
}

std::string TMatchMarks::Slice(TextOffset from, TextOffset to) const {
    const TTextStore& store = memo_.Store();
    from = std::max<TextOffset>(0, from);
    to = std::min(to, store.Length());
    std::string out;
    if (to <= from) return out;
    out.reserve(static_cast<std::size_t>(to - from));
    TTextStore::Span s = store.SpanAt(from);
    while (!s.text.empty()) {
        const TextOffset end = s.start + static_cast<TextOffset>(s.text.size());
        const TextOffset a = std::max(from, s.start), b = std::min(to, end);
        if (b > a)
            out.append(s.text.substr(static_cast<std::size_t>(a - s.start),
                                     static_cast<std::size_t>(b - a)));
        if (end >= to || !store.NextSpan(s)) break;
    }
    return out;
}

bool TMatchMarks::IsWordAt(std::string_view text, std::size_t i) const {
    if (i >= text.size()) return false;
    return memo_.CharIsInWord(text[i]) || memo_.CharStartsWord(text[i]);
}

void TMatchMarks::Scan(std::string_view text, TextOffset base, TextOffset until,
                       std::vector<Range>* out, long long* count, TextOffset* resume) {
    const bool utf8 = memo_.Encoding() == editor::TTextEncoding::teUTF8;
    const TextOffset from = *resume;
    auto take = [&](TextOffset a, TextOffset b) {
        if (out) out->push_back({a, b});
        if (count) ++*count;
        *resume = std::max(*resume, b);
    };
    auto full = [&] { return count && *count >= kCountLimit; };
    if (request_.regExpr) {
        parser_.SetUtf8(utf8);
        parser_.ForEachMatch(text, 0, [&](std::size_t a, std::size_t b) {
            const TextOffset start = base + static_cast<TextOffset>(a);
            if (start >= until || full()) return false;
            if (b > a && start >= *resume) take(start, base + static_cast<TextOffset>(b));
            return true;
        });
        return;
    }
    plain_.Prepare(request_.text, request_.matchCase, utf8);
    const std::size_t m = request_.text.size();
    std::size_t i = static_cast<std::size_t>(std::max<TextOffset>(0, from - base));
    for (; !full() && (i = plain_.FindIn(text, i)) != std::string_view::npos; ++i) {
        const TextOffset start = base + static_cast<TextOffset>(i);
        if (start >= until) break;
        if (request_.wholeWord && ((i > 0 && IsWordAt(text, i - 1)) || IsWordAt(text, i + m)))
            continue;
        take(start, start + static_cast<TextOffset>(m));
        i += m - 1; // matches do not overlap, as replace all sees them
    }
}

const std::vector<TMatchMarks::Range>& TMatchMarks::Visible(TextOffset from, TextOffset to) {
    const std::uint64_t generation = memo_.Store().Generation();
    if (from == visibleFrom_ && to == visibleTo_ && generation == visibleGeneration_)
        return visible_;
    visibleFrom_ = from;
    visibleTo_ = to;
    visibleGeneration_ = generation;
    visible_.clear();
    if (!Active() || to <= from) return visible_;
    ++visibleSearches_;
    const auto m = static_cast<TextOffset>(request_.text.size());
    // A plain match that shows starts at most m - 1 before the range; one byte more each side
    // for the whole-word test.
    TextOffset a = from - m, b = to + m;
    if (request_.regExpr) {
        a = from;
        b = to;
        const std::string tail = Slice(to, to + kLineReach);
        const std::size_t cr = tail.find(editor::kCR);
        b += cr == std::string::npos ? static_cast<TextOffset>(tail.size())
                                     : static_cast<TextOffset>(cr + 1);
    }
    a = std::max<TextOffset>(0, a);
    const std::string text = Slice(a, b);
    TextOffset resume = request_.regExpr ? a : std::max<TextOffset>(0, from - m + 1);
    Scan(text, a, to, &visible_, nullptr, &resume);
    return visible_;
}

bool TMatchMarks::CountStep(std::size_t bytes) {
    if (countGeneration_ != memo_.Store().Generation()) RestartCount();
    if (counted_) return true;
    if (!Active()) {
        counted_ = true;
        return true;
    }
    const TextOffset length = memo_.TextLength();
    const auto m = static_cast<TextOffset>(request_.text.size());
    const TextOffset until = std::min(length, countAt_ + static_cast<TextOffset>(bytes));
    TextOffset a = std::max<TextOffset>(0, countAt_ - 1), b = until + m;
    if (request_.regExpr) {
        a = countAt_;
        const std::string tail = Slice(until, until + kLineReach);
        const std::size_t cr = tail.find(editor::kCR);
        b = until + (cr == std::string::npos ? static_cast<TextOffset>(tail.size())
                                             : static_cast<TextOffset>(cr + 1));
    }
    const std::string text = Slice(a, b);
    // A regular expression's slice runs to a line's end: all its matches are counted there.
    const TextOffset stop = request_.regExpr ? b : until;
    TextOffset resume = countAt_;
    Scan(text, a, stop, nullptr, &count_, &resume);
    countAt_ = std::max(resume, stop);
    if (count_ >= kCountLimit || countAt_ >= length) counted_ = true;
    return counted_;
}

} // namespace morvane::highlight
