// Finding a fixed text in an editor's store: the skip search with its fold tables and the
// Two-Way fallback.
#include "core/highlight/PlainSearcher.h"

#include <algorithm>
#include <cstring>

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

std::size_t TPlainSearcher::FindIn(std::string_view hay, std::size_t from) const {
    compared_ = 0;
    return FindForward(hay, from);
}

} // namespace morvane::highlight
