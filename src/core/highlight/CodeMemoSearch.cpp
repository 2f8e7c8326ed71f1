#include "core/highlight/CodeMemoSearch.h"

#include "core/platform/UiServices.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace morvane::highlight {

using editor::TextOffset;
using editor::TTextStore;

namespace {

// Hands the parser a stop callback for one search; it refers to the search's locals.
struct StopHook {
    TREParser& parser;
    StopHook(TREParser& p, std::function<bool(std::size_t)> f) : parser(p) {
        parser.ShouldStop = std::move(f);
    }
    ~StopHook() { parser.ShouldStop = nullptr; }
};
} // namespace

// --- replacement text ---

std::string ExpandReplacement(std::string_view p, const std::function<std::string(int)>& piece) {
    std::string out;
    const std::size_t n = p.size();
    auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    auto hexValue = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < n;) {
        const char c = p[i];
        if (c == '%') {
            if (i + 1 == n) {
                out += '%';
                break;
            }
            const char d = p[i + 1];
            if (d >= '1' && d <= '9') {
                int value = 0;
                std::size_t j = i + 1;
                // The longest number that still names a piece (at most 255).
                while (j < n && p[j] >= '0' && p[j] <= '9' && value * 10 + (p[j] - '0') <= 255)
                    value = value * 10 + (p[j++] - '0');
                out += piece(value);
                i = j;
            } else {
                out += d; // "%%" gives "%", any other character itself
                i += 2;
            }
        } else if (c == '\\') {
            if (i + 1 == n) {
                out += '\\';
                break;
            }
            const char d = p[i + 1];
            if (isOctal(d)) {
                int value = 0;
                std::size_t j = i + 1;
                for (int k = 0; k < 3 && j < n && isOctal(p[j]); ++k)
                    value = value * 8 + (p[j++] - '0');
                if (value >= 256) return out;
                out += static_cast<char>(value);
                i = j;
                continue;
            }
            i += 2;
            switch (d) {
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\r'; // the stored line break
                break;
            case 'r':
                out += '\n';
                break;
            case 's':
                out += ' ';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                int value = -1;
                for (int k = 0; k < 2 && i < n && hexValue(p[i]) >= 0; ++k)
                    value = (value < 0 ? 0 : value * 16) + hexValue(p[i++]);
                if (value < 0) return out;
                out += static_cast<char>(value);
                break;
            }
            default:
                out += d;
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// --- the editor's search ---

TCodeMemoSearch::TCodeMemoSearch(editor::TCustomCodeMemo& memo) : memo_(memo) {}

std::string TCodeMemoSearch::NotFoundText(std::string_view text) {
    return "Search string \"" + std::string(text) + "\" not found.";
}

std::string TCodeMemoSearch::CompileErrorText(const TREParser& parser, std::string_view pattern) {
    std::string text = parser.ErrorText();
    text += '\n';
    text += pattern;
    text += '\n';
    text.append(parser.ErrorPosition() > 0 ? parser.ErrorPosition() - 1 : 0, ' ');
    text += '^';
    return text;
}

void TCodeMemoSearch::Remember(const TSearchRequest& r) {
    searchText_ = r.text;
    flags_ = (r.matchCase ? sfMatchCase : 0u) | (r.regExpr ? sfRegExpr : 0u) |
             (r.wholeWord ? sfWholeWord : 0u) | (r.down ? 0u : sfBackward) |
             (r.wrap ? sfWrapAround : 0u);
    hasSearched_ = true;
}

TSearchRequest TCodeMemoSearch::Remembered() const {
    TSearchRequest r;
    r.text = searchText_;
    r.matchCase = flags_ & sfMatchCase;
    r.regExpr = flags_ & sfRegExpr;
    r.wholeWord = flags_ & sfWholeWord;
    r.down = !(flags_ & sfBackward);
    r.wrap = flags_ & sfWrapAround;
    return r;
}

void TCodeMemoSearch::ReportNotFound() {
    if (OnReport) OnReport();
    if (OnSearchFail) {
        OnSearchFail(&memo_, searchText_);
        return;
    }
    if (dialogs) dialogs->message(platform::MsgKind::Information, NotFoundText(searchText_));
}

void TCodeMemoSearch::ReportError() {
    if (OnReport) OnReport();
    if (dialogs)
        dialogs->message(platform::MsgKind::Warning, CompileErrorText(parser_, searchText_));
}

bool TCodeMemoSearch::CompileOrReport(const TSearchRequest& r) {
    if (parser_.SetExpression(r.text)) return true;
    ReportError();
    return false;
}

std::string_view TCodeMemoSearch::Snapshot() {
    const TTextStore& store = memo_.Store();
    if (!haveSnapshot_ || snapshotStore_ != &store || snapshotGeneration_ != store.Generation()) {
        // The blocks' text is the stored form: copied span by span into a buffer that keeps
        // its capacity between searches.
        snapshot_.resize(static_cast<std::size_t>(store.Length()));
        std::size_t at = 0;
        TTextStore::Span s = store.SpanAt(0);
        if (!s.text.empty()) do {
                std::memcpy(snapshot_.data() + at, s.text.data(), s.text.size());
                at += s.text.size();
            } while (store.NextSpan(s));
        snapshotStore_ = &store;
        snapshotGeneration_ = store.Generation();
        haveSnapshot_ = true;
    }
    return snapshot_;
}

bool TCodeMemoSearch::IsWordAt(TextOffset off) const {
    if (off < 0 || off >= memo_.TextLength()) return false;
    TTextStore::Span s = memo_.Store().SpanAt(off);
    const char c = s.text[static_cast<std::size_t>(off - s.start)];
    return memo_.CharIsInWord(c) || memo_.CharStartsWord(c);
}

void TCodeMemoSearch::SnapToCharacters(TextOffset& start, TextOffset& end) const {
    // A pattern's `.` or `[^...]` takes one byte: the match is widened to whole characters,
    // so that no selection or replacement splits a multi-byte character.
    start = memo_.CharStartAt(start);
    const TextOffset last = memo_.CharStartAt(end);
    if (last < end) end = memo_.NextCharBoundary(last);
}

void TCodeMemoSearch::BeginSearch() {
    stopped_ = false;
    searchGeneration_ = memo_.Store().Generation();
}

bool TCodeMemoSearch::Halt(double done) {
    if (stopped_) return true;
    if (ShouldStop && ShouldStop(std::clamp(done, 0.0, 1.0))) stopped_ = true;
    // Whatever ran meanwhile must not have changed the text under the search.
    if (memo_.Store().Generation() != searchGeneration_) stopped_ = true;
    return stopped_;
}

TCodeMemoSearch::Match TCodeMemoSearch::Search(const TSearchRequest& r, TextOffset pos,
                                               bool forward, bool& error, TextOffset limit) {
    error = false;
    BeginSearch();
    const TextOffset from = pos;
    const TextOffset length = memo_.TextLength();
    // The share of the way from `from` to the end the search goes to.
    auto done = [from, length, forward](TextOffset at) {
        if (forward) return length > from ? double(at - from) / double(length - from) : 1.0;
        return from > 0 ? double(from - at) / double(from) : 1.0;
    };
    bool limited = false;
    auto beyond = [&](TextOffset at) {
        limited = limit >= 0 && (forward ? at > limit : at < limit);
        return limited;
    };
    if (r.regExpr) {
        std::string_view text = Snapshot();
        parser_.SetUtf8(memo_.Encoding() == editor::TTextEncoding::teUTF8);
        const StopHook hook(
            parser_, ShouldStop || limit >= 0 ? [&](std::size_t at) {
                return beyond(TextOffset(at)) || (ShouldStop && Halt(done(TextOffset(at))));
            } : std::function<bool(std::size_t)>());
        const auto size = static_cast<TextOffset>(text.size());
        // Empty matches are passed over one character at a time; bounded by the text.
        while (pos >= 0 && pos <= size && !beyond(pos)) {
            const bool hit = parser_.Search(text, static_cast<std::size_t>(pos), forward);
            if (Halt(done(pos))) return {};
            if (!hit) {
                error = !limited && parser_.ErrorNumber() != TREError::None;
                return {};
            }
            auto start = static_cast<TextOffset>(parser_.MatchStart());
            auto end = static_cast<TextOffset>(parser_.MatchEnd());
            if (end > start) {
                SnapToCharacters(start, end);
                return {start, end};
            }
            pos = forward ? start + 1 : start - 1;
        }
        return {};
    }
    plain_.Prepare(r.text, r.matchCase, memo_.Encoding() == editor::TTextEncoding::teUTF8);
    const auto m = static_cast<TextOffset>(r.text.size());
    std::function<bool(TextOffset)> accept;
    if (r.wholeWord) accept = [&](TextOffset g) { return !IsWordAt(g - 1) && !IsWordAt(g + m); };
    std::function<bool(TextOffset)> poll;
    if (ShouldStop || limit >= 0)
        poll = [&](TextOffset at) { return beyond(at) || (ShouldStop && Halt(done(at))); };
    TextOffset g = plain_.Find(memo_.Store(), pos, forward, accept, poll);
    if (g < 0) return {};
    return {g, g + m};
}

TSearchOutcome TCodeMemoSearch::Find(const TSearchRequest& r) {
    Remember(r);
    wrapped_ = false;
    if (r.text.empty()) {
        ReportNotFound();
        return TSearchOutcome::NotFound;
    }
    if (r.regExpr && !CompileOrReport(r)) return TSearchOutcome::Error;
    const TextOffset selStart = memo_.SelStart();
    const TextOffset selEnd = selStart + memo_.SelLength();
    TextOffset pos = selStart;
    bool none = r.down ? selEnd >= memo_.TextLength() : selStart == 0;
    if (!none && lastFound_ == selStart) {
        pos += r.down ? 1 : -1;
        none = pos < 0;
    }
    Match m;
    bool error = false;
    if (!none) {
        m = Search(r, pos, r.down, error);
        if (stopped_) return TSearchOutcome::Stopped;
    }
    const TextOffset length = memo_.TextLength();
    if (!error && m.start < 0 && r.wrap && (none || (r.down ? pos > 0 : pos < length))) {
        // From the other end up to where the first search began: the current match is found
        // again when it is the only one.
        m = Search(r, r.down ? 0 : length, r.down, error, none ? -1 : pos);
        if (stopped_) return TSearchOutcome::Stopped;
        wrapped_ = m.start >= 0;
    }
    if (error) {
        ReportError();
        return TSearchOutcome::Error;
    }
    if (m.start < 0) {
        ReportNotFound();
        return TSearchOutcome::NotFound;
    }
    memo_.SetSelection(m.start, m.end);
    memo_.ScrollToCaret();
    lastFound_ = m.start;
    return TSearchOutcome::Found;
}

std::intptr_t TCodeMemoSearch::FindAtOnce(unsigned flags, std::string_view text) {
    TSearchRequest r;
    r.text = text;
    r.matchCase = flags & sfMatchCase;
    r.regExpr = flags & sfRegExpr;
    r.wholeWord = flags & sfWholeWord;
    r.down = !(flags & sfBackward);
    // Reports stay with the caller of this programmatic search.
    auto fail = std::move(OnSearchFail);
    platform::Dialogs* quiet = dialogs;
    OnSearchFail = [](editor::TCustomCodeMemo*, const std::string&) {};
    dialogs = nullptr;
    TSearchOutcome outcome = Find(r);
    OnSearchFail = std::move(fail);
    dialogs = quiet;
    if (outcome != TSearchOutcome::Found) return -1;
    return static_cast<std::intptr_t>(lastFound_);
}

bool TCodeMemoSearch::FindNext() {
    if (!hasSearched_) return false;
    TSearchRequest r = Remembered();
    if (memo_.SelLength() > 0 && !r.regExpr) {
        // The current match selected: step past it rather than find it again.
        std::string sel = memo_.SelText();
        bool same = sel.size() == r.text.size();
        for (std::size_t i = 0; same && i < sel.size(); ++i)
            same = FoldCase(static_cast<unsigned char>(sel[i])) ==
                   FoldCase(static_cast<unsigned char>(r.text[i]));
        if (same) lastFound_ = memo_.SelStart();
    }
    Find(r);
    return true;
}

long long TCodeMemoSearch::Replace(const TSearchRequest& r, std::string_view replacement,
                                   bool all) {
    Remember(r);
    if (memo_.ReadOnly()) {
        memo_.Beep();
        return 0;
    }
    if (r.text.empty()) {
        ReportNotFound();
        return 0;
    }
    if (r.regExpr && !parser_.SetExpression(r.text)) {
        if (all)
            memo_.Beep();
        else
            ReportError();
        return 0;
    }
    // Before any find the last found position is unknown: start at the caret.
    const TextOffset from = all && r.wholeDocument ? 0
                            : lastFound_ >= 0      ? lastFound_
                                                   : memo_.SelStart();
    if (all) return ReplaceAll(r, replacement, from);

    long long count = 0;
    TextOffset pos = from;
    for (;;) {
        bool error = false;
        Match m = Search(r, pos, true, error);
        if (stopped_) break;
        if (error) {
            ReportError();
            break;
        }
        if (m.start < 0) {
            ReportNotFound();
            break;
        }
        memo_.SetSelection(m.start, m.end);
        memo_.ScrollToCaret();
        lastFound_ = m.start;
        std::string text = r.regExpr
                               ? ExpandReplacement(replacement,
                                                   [&](int n) {
                                                       std::string_view s = Snapshot();
                                                       std::size_t a = parser_.PieceStart(n),
                                                                   b = parser_.PieceEnd(n);
                                                       return b > a && b <= s.size()
                                                                  ? std::string(s.substr(a, b - a))
                                                                  : std::string();
                                                   })
                               : std::string(replacement);
        TReplaceAnswer answer = TReplaceAnswer::Yes;
        if (OnConfirmReplace) {
            std::string found = memo_.SelText();
            if (OnReport) OnReport();
            answer =
                OnConfirmReplace("Replace this occurence of '" + found + "' with '" + text + "' ?");
        }
        if (answer == TReplaceAnswer::Cancel) break;
        if (answer == TReplaceAnswer::No) {
            pos = m.end;
            continue;
        }
        memo_.BeginUndoGroup(editor::ugReplace);
        memo_.ReplaceSel(text);
        memo_.EndUndoGroup(editor::ugReplace);
        ++count;
        pos = m.start + static_cast<TextOffset>(text.size());
        if (answer == TReplaceAnswer::All) {
            // The rest without asking, as one more undo step; no report when none are left.
            auto fail = std::move(OnSearchFail);
            OnSearchFail = [](editor::TCustomCodeMemo*, const std::string&) {};
            count += ReplaceAll(r, replacement, pos);
            OnSearchFail = std::move(fail);
            break;
        }
    }
    return count;
}

long long TCodeMemoSearch::ReplaceAll(const TSearchRequest& r, std::string_view replacement,
                                      TextOffset from) {
    struct Hit {
        TextOffset start, end;
        std::string text;
    };
    std::vector<Hit> hits;
    std::string_view source;
    const TextOffset base = 0;
    BeginSearch();
    const TextOffset length = memo_.TextLength();
    auto done = [from, length](TextOffset at) {
        return length > from ? double(at - from) / double(length - from) : 1.0;
    };
    if (r.regExpr) {
        source = Snapshot();
        parser_.SetUtf8(memo_.Encoding() == editor::TTextEncoding::teUTF8);
        const StopHook hook(parser_,
                            ShouldStop ? [&](std::size_t at) { return Halt(done(TextOffset(at))); }
                                       : std::function<bool(std::size_t)>());
        long long n = parser_.ForEachMatch(
            source, static_cast<std::size_t>(std::clamp<TextOffset>(from, 0, memo_.TextLength())),
            [&](std::size_t a, std::size_t b) {
                auto start = static_cast<TextOffset>(a), end = static_cast<TextOffset>(b);
                SnapToCharacters(start, end);
                // Two matches within one character make one replacement.
                if (!hits.empty() && start < hits.back().end) return true;
                hits.push_back({start, end, ExpandReplacement(replacement, [&](int k) {
                                    std::size_t s = parser_.PieceStart(k), e = parser_.PieceEnd(k);
                                    return e > s && e <= source.size()
                                               ? std::string(source.substr(s, e - s))
                                               : std::string();
                                })});
                return true;
            });
        if (stopped_) return 0;
        if (n < 0) {
            ReportError();
            return 0;
        }
    } else {
        plain_.Prepare(r.text, r.matchCase, memo_.Encoding() == editor::TTextEncoding::teUTF8);
        const auto m = static_cast<TextOffset>(r.text.size());
        std::function<bool(TextOffset)> accept;
        if (r.wholeWord)
            accept = [&](TextOffset g) { return !IsWordAt(g - 1) && !IsWordAt(g + m); };
        std::function<bool(TextOffset)> poll;
        if (ShouldStop) poll = [&](TextOffset at) { return Halt(done(at)); };
        for (TextOffset pos = from;;) {
            TextOffset g = plain_.Find(memo_.Store(), pos, true, accept, poll);
            if (g == TPlainSearcher::kStopped) return 0;
            if (g < 0) break;
            hits.push_back({g, g + m, {}});
            pos = g + m;
        }
        if (!hits.empty()) source = Snapshot();
    }
    if (hits.empty()) {
        ReportNotFound();
        return 0;
    }
    // One pass: the text from the first match to the end of the last, rebuilt once.
    const TextOffset first = hits.front().start, last = hits.back().end;
    std::string out;
    out.reserve(static_cast<std::size_t>(last - first) + hits.size() * replacement.size());
    TextOffset at = first;
    TextOffset lastStart = first;
    for (const Hit& h : hits) {
        out.append(source.substr(static_cast<std::size_t>(at - base),
                                 static_cast<std::size_t>(h.start - at)));
        lastStart = first + static_cast<TextOffset>(out.size());
        out.append(r.regExpr ? std::string_view(h.text) : replacement);
        at = h.end;
    }
    memo_.BeginUndoGroup(editor::ugReplace);
    memo_.SetSelection(first, last, false);
    // The kept text is in the stored form already; only a replacement can bring a line feed.
    if (std::memchr(out.data(), '\n', out.size()))
        memo_.ReplaceSel(out);
    else
        memo_.ReplaceSelStored(std::move(out));
    memo_.EndUndoGroup(editor::ugReplace);
    memo_.ScrollToCaret();
    lastFound_ = lastStart;
    return static_cast<long long>(hits.size());
}

} // namespace morvane::highlight
