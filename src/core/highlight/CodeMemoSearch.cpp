#include "core/highlight/CodeMemoSearch.h"

#include "core/platform/UiServices.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace morvane::highlight {

using editor::TextOffset;
using editor::TTextStore;

namespace {

constexpr std::size_t npos = std::string_view::npos;

struct FoldTable {
    std::array<unsigned char, 256> up{};
    FoldTable() {
        for (int c = 0; c < 256; ++c) {
            int u = c;
            if (c >= 'a' && c <= 'z') u = c - 32;
            // Latin-1 small letters, but not the division sign nor y with diaeresis.
            if (c >= 0xE0 && c <= 0xFE && c != 0xF7) u = c - 32;
            up[static_cast<std::size_t>(c)] = static_cast<unsigned char>(u);
        }
    }
};
const FoldTable kFold;

inline unsigned char Fold(char c) {
    return kFold.up[static_cast<unsigned char>(c)];
}

// UTF-8: a Latin-1 small letter is C3 followed by A0-BE (not B7, the division sign); its
// capital has the second byte 0x20 lower. Loose folding applies that to any such byte without
// looking at the one before: it may only make a skip shorter, never decide a match.
inline unsigned char Utf8Second(unsigned char c) {
    return c >= 0xA0 && c <= 0xBE && c != 0xB7 ? static_cast<unsigned char>(c - 0x20) : c;
}
inline unsigned char LooseFold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : Utf8Second(u);
}
inline unsigned char AsciiFold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : u;
}
// The strict UTF-8 fold of p[i], knowing the byte before it.
inline unsigned char Utf8Fold(const char* p, std::size_t i) {
    if (i > 0 && static_cast<unsigned char>(p[i - 1]) == 0xC3)
        return Utf8Second(static_cast<unsigned char>(p[i]));
    return AsciiFold(p[i]);
}

// Hands the parser a stop callback for one search; it refers to the search's locals.
struct StopHook {
    TREParser& parser;
    StopHook(TREParser& p, std::function<bool(std::size_t)> f) : parser(p) {
        parser.ShouldStop = std::move(f);
    }
    ~StopHook() { parser.ShouldStop = nullptr; }
};

} // namespace

unsigned char FoldCase(unsigned char c) {
    return kFold.up[c];
}

// --- plain search ---

void TPlainSearcher::TwoWay::Build(std::string pattern) {
    x = std::move(pattern);
    const auto m = static_cast<std::ptrdiff_t>(x.size());
    auto at = [&](std::ptrdiff_t i) { return static_cast<unsigned char>(x[std::size_t(i)]); };
    // The maximal suffix under one order of the bytes (or the other) and its period.
    auto maxSuffix = [&](bool reversedOrder, std::ptrdiff_t& period) {
        std::ptrdiff_t ms = -1, j = 0, k = 1;
        period = 1;
        while (j + k < m) {
            const unsigned char a = at(j + k), b = at(ms + k);
            if (reversedOrder ? a > b : a < b) {
                j += k;
                k = 1;
                period = j - ms;
            } else if (a == b) {
                if (k != period) {
                    ++k;
                } else {
                    j += period;
                    k = 1;
                }
            } else {
                ms = j;
                j = ms + 1;
                k = period = 1;
            }
        }
        return ms;
    };
    std::ptrdiff_t p = 1, q = 1;
    const std::ptrdiff_t i = maxSuffix(false, p), j = maxSuffix(true, q);
    ell = i > j ? i : j;
    const std::ptrdiff_t period = i > j ? p : q;
    periodic = ell + 1 + period <= m &&
               std::memcmp(x.data(), x.data() + period, std::size_t(ell + 1)) == 0;
    per = std::size_t(periodic ? period : std::max(ell + 1, m - ell - 1) + 1);
}

template <class Text>
std::size_t TPlainSearcher::TwoWayFirst(const TwoWay& w, std::size_t n, Text y) const {
    const auto m = static_cast<std::ptrdiff_t>(w.x.size());
    const auto last = static_cast<std::ptrdiff_t>(n) - m;
    const std::ptrdiff_t ell = w.ell;
    const auto per = static_cast<std::ptrdiff_t>(w.per);
    auto x = [&](std::ptrdiff_t i) { return static_cast<unsigned char>(w.x[std::size_t(i)]); };
    auto text = [&](std::ptrdiff_t i) { return y(std::size_t(i)); };
    std::uint64_t work = 0;
    std::ptrdiff_t j = 0;
    std::ptrdiff_t memory = -1; // a prefix known to match after a shift by the period
    while (j <= last) {
        std::ptrdiff_t i = std::max(ell, memory) + 1;
        while (i < m && x(i) == text(i + j))
            ++i;
        work += std::uint64_t(i - std::max(ell, memory));
        if (i < m) {
            j += i - ell;
            memory = -1;
            continue;
        }
        i = ell;
        while (i > memory && x(i) == text(i + j))
            --i;
        work += std::uint64_t(ell - i + 1);
        if (i <= memory) {
            compared_ += work;
            return std::size_t(j);
        }
        j += per;
        memory = w.periodic ? m - per - 1 : -1;
    }
    compared_ += work;
    return npos;
}

void TPlainSearcher::Prepare(std::string_view pattern, bool matchCase, bool utf8) {
    if (prepared_ && matchCase == matchCase_ && utf8 == utf8_ && pattern == pattern_) return;
    pattern_.assign(pattern);
    matchCase_ = matchCase;
    utf8_ = utf8;
    prepared_ = true;
    folded_ = pattern_;
    if (!matchCase_)
        for (std::size_t i = 0; i < folded_.size(); ++i)
            folded_[i] =
                static_cast<char>(utf8_ ? Utf8Fold(pattern_.data(), i) : Fold(pattern_[i]));
    // Horspool's table over folded bytes; any byte maps through its fold (loosely in UTF-8).
    const std::size_t m = folded_.size();
    auto fold = [&](char c) -> unsigned char {
        if (matchCase_) return static_cast<unsigned char>(c);
        return utf8_ ? LooseFold(c) : Fold(c);
    };
    std::array<std::size_t, 256> byFolded;
    byFolded.fill(m);
    for (std::size_t i = 0; i + 1 < m; ++i)
        byFolded[fold(folded_[i])] = m - 1 - i;
    for (int c = 0; c < 256; ++c)
        skip_[static_cast<std::size_t>(c)] = byFolded[fold(static_cast<char>(c))];
    ahead_.Build(folded_);
    behind_.Build(std::string(folded_.rbegin(), folded_.rend()));
}

unsigned char TPlainSearcher::TextFold(const char* data, std::size_t i) const {
    if (matchCase_) return static_cast<unsigned char>(data[i]);
    if (!utf8_) return Fold(data[i]);
    return Utf8Fold(data, i);
}

std::size_t TPlainSearcher::Agree(std::string_view hay, std::size_t at) const {
    const char* data = hay.data();
    const std::size_t m = folded_.size();
    std::size_t k = 0;
    if (matchCase_) {
        while (k < m && data[at + k] == pattern_[k])
            ++k;
    } else if (utf8_) {
        // The first byte's fold knows the byte before it, as the text's folds do everywhere.
        while (k < m && Utf8Fold(data, at + k) == static_cast<unsigned char>(folded_[k]))
            ++k;
    } else {
        while (k < m && Fold(data[at + k]) == static_cast<unsigned char>(folded_[k]))
            ++k;
    }
    compared_ += k < m ? k + 1 : m;
    return k;
}

// A skip search spends up to this many comparisons over the bytes it has passed before it
// hands over to Two-Way.
static std::uint64_t SkipAllowance(std::size_t passed, std::size_t m) {
    return std::uint64_t(passed) + 2 * std::uint64_t(m) + 64;
}

std::size_t TPlainSearcher::FindForward(std::string_view hay, std::size_t from) const {
    const std::size_t m = pattern_.size();
    if (m == 0 || from > hay.size() || hay.size() - from < m) return npos;
    if (matchCase_) {
        // memmem's own search is linear.
        const void* hit = memmem(hay.data() + from, hay.size() - from, pattern_.data(), m);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data()) : npos;
    }
    const char* data = hay.data();
    const std::uint64_t before = compared_;
    auto twoWay = [&](std::size_t at) {
        const std::size_t j = TwoWayFirst(ahead_, hay.size() - at,
                                          [&](std::size_t i) { return TextFold(data, at + i); });
        return j == npos ? npos : at + j;
    };
    const auto last =
        utf8_ ? LooseFold(folded_[m - 1]) : static_cast<unsigned char>(folded_[m - 1]);
    for (std::size_t i = from; i + m <= hay.size();) {
        const char c = data[i + m - 1];
        if ((utf8_ ? LooseFold(c) : Fold(c)) == last) {
            if (Agree(hay, i) == m) return i;
            if (compared_ - before > SkipAllowance(i - from, m)) return twoWay(i);
        }
        i += skip_[static_cast<unsigned char>(c)];
    }
    return npos;
}

std::size_t TPlainSearcher::FindBackward(std::string_view hay, std::size_t last) const {
    const std::size_t m = pattern_.size();
    if (m == 0 || hay.size() < m) return npos;
    const std::size_t start = std::min(last, hay.size() - m);
    const char* data = hay.data();
    const std::uint64_t before = compared_;
    // Two-Way over the text read backwards from the end of a hit starting at `at`.
    auto twoWay = [&](std::size_t at) {
        const std::size_t end = at + m;
        const std::size_t j =
            TwoWayFirst(behind_, end, [&](std::size_t i) { return TextFold(data, end - 1 - i); });
        return j == npos ? npos : end - j - m;
    };
    const auto first = matchCase_ ? static_cast<unsigned char>(pattern_[0])
                       : utf8_    ? LooseFold(folded_[0])
                                  : static_cast<unsigned char>(folded_[0]);
    for (std::size_t i = start;; --i) {
        if (matchCase_) {
            const void* hit = memrchr(data, first, i + 1);
            if (!hit) return npos;
            i = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        }
        const auto c = matchCase_ ? static_cast<unsigned char>(data[i])
                       : utf8_    ? LooseFold(data[i])
                                  : Fold(data[i]);
        if (c == first) {
            if (Agree(hay, i) == m) return i;
            if (compared_ - before > SkipAllowance(start - i, m))
                return i == 0 ? npos : twoWay(i - 1);
        }
        if (i == 0) return npos;
    }
}

TextOffset TPlainSearcher::Find(const TTextStore& store, TextOffset from, bool forward,
                                const std::function<bool(TextOffset)>& accept,
                                const std::function<bool(TextOffset)>& poll) const {
    compared_ = 0;
    const auto m = static_cast<TextOffset>(pattern_.size());
    const TextOffset length = store.Length();
    if (m == 0 || m > length) return -1;
    auto ok = [&](TextOffset g) { return !accept || accept(g); };
    // A hit that crosses from one span into the next is looked for in a small joint of the
    // span's tail and the following bytes.
    auto joint = [&](const TTextStore::Span& s, TextOffset tailStart, std::string& out) {
        out.assign(s.text.substr(static_cast<std::size_t>(tailStart - s.start)));
        TTextStore::Span t = s;
        auto need = static_cast<std::size_t>(m - 1);
        while (need > 0 && store.NextSpan(t)) {
            std::size_t take = std::min(need, t.text.size());
            out.append(t.text.substr(0, take));
            need -= take;
        }
    };
    std::string join;
    if (forward) {
        TextOffset pos = std::max<TextOffset>(from, 0);
        if (pos > length - m) return -1;
        TTextStore::Span s = store.SpanAt(pos);
        for (;;) {
            if (s.text.empty() && s.start >= length) return -1;
            if (poll && poll(pos)) return kStopped;
            const TextOffset spanEnd = s.start + static_cast<TextOffset>(s.text.size());
            if (pos < spanEnd) {
                std::size_t local = static_cast<std::size_t>(pos - s.start);
                for (std::size_t i; (i = FindForward(s.text, local)) != npos; local = i + 1)
                    if (ok(s.start + static_cast<TextOffset>(i)))
                        return s.start + static_cast<TextOffset>(i);
                if (m > 1 && spanEnd < length) {
                    TextOffset tailStart = std::max({pos, spanEnd - (m - 1), s.start});
                    joint(s, tailStart, join);
                    const auto crossing = static_cast<std::size_t>(spanEnd - tailStart);
                    for (std::size_t i = 0; (i = FindForward(join, i)) != npos && i < crossing; ++i)
                        if (ok(tailStart + static_cast<TextOffset>(i)))
                            return tailStart + static_cast<TextOffset>(i);
                }
            }
            pos = std::max(pos, spanEnd);
            if (pos > length - m || !store.NextSpan(s)) return -1;
        }
    }
    TextOffset limit = std::min(from, length - m);
    if (limit < 0) return -1;
    TTextStore::Span s = store.SpanAt(limit);
    for (;;) {
        if (poll && poll(limit)) return kStopped;
        const TextOffset spanEnd = s.start + static_cast<TextOffset>(s.text.size());
        if (m > 1 && spanEnd < length) {
            TextOffset tailStart = std::max(spanEnd - (m - 1), s.start);
            if (limit >= tailStart) {
                joint(s, tailStart, join);
                const auto crossing = static_cast<std::size_t>(spanEnd - tailStart);
                std::size_t last =
                    std::min(static_cast<std::size_t>(limit - tailStart), crossing - 1);
                for (std::size_t i; (i = FindBackward(join, last)) != npos; last = i - 1) {
                    if (ok(tailStart + static_cast<TextOffset>(i)))
                        return tailStart + static_cast<TextOffset>(i);
                    if (i == 0) break;
                }
            }
        }
        if (limit >= s.start && s.text.size() >= static_cast<std::size_t>(m)) {
            std::size_t last = static_cast<std::size_t>(limit - s.start);
            for (std::size_t i; (i = FindBackward(s.text, last)) != npos; last = i - 1) {
                if (ok(s.start + static_cast<TextOffset>(i)))
                    return s.start + static_cast<TextOffset>(i);
                if (i == 0) break;
            }
        }
        if (!store.PrevSpan(s)) return -1;
        limit = std::min(limit, s.start + static_cast<TextOffset>(s.text.size()) - 1);
    }
}

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
             (r.wholeWord ? sfWholeWord : 0u) | (r.down ? 0u : sfBackward);
    hasSearched_ = true;
}

TSearchRequest TCodeMemoSearch::Remembered() const {
    TSearchRequest r;
    r.text = searchText_;
    r.matchCase = flags_ & sfMatchCase;
    r.regExpr = flags_ & sfRegExpr;
    r.wholeWord = flags_ & sfWholeWord;
    r.down = !(flags_ & sfBackward);
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
                                               bool forward, bool& error) {
    error = false;
    BeginSearch();
    const TextOffset from = pos;
    const TextOffset length = memo_.TextLength();
    // The share of the way from `from` to the end the search goes to.
    auto done = [from, length, forward](TextOffset at) {
        if (forward) return length > from ? double(at - from) / double(length - from) : 1.0;
        return from > 0 ? double(from - at) / double(from) : 1.0;
    };
    if (r.regExpr) {
        std::string_view text = Snapshot();
        parser_.SetUtf8(memo_.Encoding() == editor::TTextEncoding::teUTF8);
        const StopHook hook(parser_,
                            ShouldStop ? [&](std::size_t at) { return Halt(done(TextOffset(at))); }
                                       : std::function<bool(std::size_t)>());
        const auto size = static_cast<TextOffset>(text.size());
        // Empty matches are passed over one character at a time; bounded by the text.
        while (pos >= 0 && pos <= size) {
            const bool hit = parser_.Search(text, static_cast<std::size_t>(pos), forward);
            if (Halt(done(pos))) return {};
            if (!hit) {
                error = parser_.ErrorNumber() != TREError::None;
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
    if (ShouldStop) poll = [&](TextOffset at) { return Halt(done(at)); };
    TextOffset g = plain_.Find(memo_.Store(), pos, forward, accept, poll);
    if (g < 0) return {};
    return {g, g + m};
}

TSearchOutcome TCodeMemoSearch::Find(const TSearchRequest& r) {
    Remember(r);
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
    if (none) {
        ReportNotFound();
        return TSearchOutcome::NotFound;
    }
    bool error = false;
    Match m = Search(r, pos, r.down, error);
    if (stopped_) return TSearchOutcome::Stopped;
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
            same = Fold(sel[i]) == Fold(r.text[i]);
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
    const TextOffset from = lastFound_ >= 0 ? lastFound_ : memo_.SelStart();
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
