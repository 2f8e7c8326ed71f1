// Running a compiled pattern: a backtracking matcher over the node program, and the search
// loop that picks the positions worth trying.
//
// Positions are not written into the list while matching: every record, group open and group
// close goes onto a trail that is cut back whenever a path is abandoned, and the list is built
// from the trail of the path that succeeded. So nothing from an abandoned path survives.
#include "core/highlight/REParser.h"
#include "core/highlight/REProgram.h"

#include <algorithm>
#include <cstring>

namespace morvane::highlight {

namespace {

constexpr unsigned char kCR = 13;
// Steps allowed per position tried, on top of the fixed budget, so that long texts are not
// cut short while a pattern that explodes on one position still stops early.
constexpr std::uint64_t kStepsPerPosition = 64;
// The budget is handed to the matcher in slices; between two the search may be stopped.
constexpr std::uint64_t kSlice = 1u << 20;
// A literal costs a step, and one more for every 16 bytes compared past its first 16.
constexpr std::size_t kBytesPerStep = 16;

struct TooComplex {};
struct Stopped {};

// The length of the valid UTF-8 character starting at t[i] (2 to 4), or 1: an ASCII byte, a
// stray byte, a sequence cut short or not well formed (overlong, surrogate, above U+10FFFF).
std::size_t utf8Length(const unsigned char* t, std::size_t n, std::size_t i) {
    const unsigned char b = t[i];
    if (b < 0xC2 || b > 0xF4) return 1;
    const std::size_t len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (n - i < len) return 1;
    const unsigned char c1 = t[i + 1];
    unsigned char lo = 0x80, hi = 0xBF;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
    if (c1 < lo || c1 > hi) return 1;
    for (std::size_t k = 2; k < len; ++k)
        if ((t[i + k] & 0xC0) != 0x80) return 1;
    return len;
}

// Whether i is where a character starts: not inside a valid multi-byte character.
bool utf8Start(const unsigned char* t, std::size_t n, std::size_t i) {
    if (i >= n || (t[i] & 0xC0) != 0x80) return true;
    for (std::size_t d = 1; d <= 3 && d <= i; ++d) {
        const unsigned char b = t[i - d];
        if ((b & 0xC0) != 0x80) return utf8Length(t, n, i - d) <= d;
    }
    return true;
}

enum class TrailKind : std::uint8_t { Record, Open, Close };
struct TrailEntry {
    TrailKind kind;
    std::size_t pos;
};

struct LoopState {
    std::uint32_t count = 0;                 // repetitions completed
    std::size_t iterStart = std::size_t(-1); // where the running repetition began
};

class Matcher {
public:
    Matcher(const TREProgram& p, std::string_view text, int maxDepth, bool utf8)
        : p_(p), t_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()),
          maxDepth_(maxDepth), utf8_(utf8), loops_(static_cast<std::size_t>(p.loopSlots)) {}

    // The budget in hand and the rest of the search's budget behind it.
    std::uint64_t budget = 0;
    std::uint64_t reserve = 0;
    std::uint64_t granted = 0;
    std::size_t at = 0; // the position being tried, for the stop callback
    const std::function<bool(std::size_t)>* shouldStop = nullptr;

    void grant(std::uint64_t steps) {
        reserve += steps;
        granted += steps;
    }
    std::uint64_t used() const { return granted - reserve - budget; }

    bool attempt(std::size_t pos) {
        trail_.clear();
        return m(p_.start, pos);
    }
    std::size_t end() const { return end_; }

    void positions(std::vector<std::size_t>& out) const {
        out.clear();
        std::vector<std::size_t> opens;
        for (const TrailEntry& e : trail_) {
            switch (e.kind) {
            case TrailKind::Record:
                out.push_back(e.pos);
                break;
            case TrailKind::Open:
                opens.push_back(out.size());
                out.push_back(e.pos);
                break;
            case TrailKind::Close:
                if (!opens.empty()) {
                    out.resize(opens.back() + 1);
                    opens.pop_back();
                }
                break;
            }
        }
        out.push_back(end_);
    }

private:
    struct Depth {
        int& d;
        Depth(int& depth, int max) : d(depth) {
            if (++d > max) {
                --d;
                throw TooComplex{};
            }
        }
        ~Depth() { --d; }
    };

    void spend(std::uint64_t steps) {
        if (budget < steps) refill(steps);
        budget -= steps;
    }
    [[gnu::noinline]] void refill(std::uint64_t steps) {
        const std::uint64_t take = std::min(reserve, std::max(kSlice, steps));
        reserve -= take;
        budget += take;
        if (budget < steps) throw TooComplex{};
        if (shouldStop && *shouldStop && (*shouldStop)(at)) throw Stopped{};
    }
    bool canStart(const TREFirst& f, const TRESet& table, std::size_t q) const {
        if (q < n_ && table[t_[q]]) return true;
        return (q == n_ && f.atEnd) || (q == 0 && f.atStart);
    }

    bool m(int node, std::size_t pos) {
        Depth depth(depth_, maxDepth_);
        for (;;) {
            spend(1);
            const TRENode& nd = p_.nodes[static_cast<std::size_t>(node)];
            switch (nd.op) {
            case TREOp::End:
                end_ = pos;
                return true;
            case TREOp::Bol:
                if (pos == 0) {
                    // At the start of the text: empty first, then a CR there if there is one.
                    const std::size_t mark = trail_.size();
                    trail_.push_back({TrailKind::Record, pos});
                    if (n_ == 0 || t_[0] != kCR) break;
                    if (m(nd.next, pos)) return true;
                    trail_.resize(mark + 1);
                    ++pos;
                    break;
                }
                if (pos >= n_ || t_[pos] != kCR) return false;
                trail_.push_back({TrailKind::Record, pos++});
                break;
            case TREOp::Eol:
                if (pos < n_ && t_[pos] != kCR) return false;
                break;
            case TREOp::Set: {
                const std::size_t len = take(p_.sets[static_cast<std::size_t>(nd.set)], pos);
                if (len == 0) return false;
                trail_.push_back({TrailKind::Record, pos});
                pos += len;
                break;
            }
            case TREOp::Exact: {
                // Counted by the bytes compared: a long literal tried at every position is
                // real work, not one step.
                const std::string& s = p_.strings[static_cast<std::size_t>(nd.str)];
                if (n_ - pos < s.size()) return false;
                const std::size_t head = std::min(s.size(), kBytesPerStep);
                if (std::memcmp(t_ + pos, s.data(), head) != 0) return false;
                if (s.size() > head) {
                    spend((s.size() - head + kBytesPerStep - 1) / kBytesPerStep);
                    if (std::memcmp(t_ + pos + head, s.data() + head, s.size() - head) != 0)
                        return false;
                }
                trail_.push_back({TrailKind::Record, pos});
                pos += s.size();
                break;
            }
            case TREOp::Nothing:
                break;
            case TREOp::Open:
                trail_.push_back({TrailKind::Open, pos});
                break;
            case TREOp::Close:
                trail_.push_back({TrailKind::Close, pos});
                break;
            case TREOp::Branch: {
                if (nd.alt < 0) {
                    node = nd.body;
                    continue;
                }
                const std::size_t mark = trail_.size();
                if (m(nd.body, pos)) return true;
                trail_.resize(mark);
                node = nd.alt;
                continue;
            }
            case TREOp::Repeat:
                return repeat(nd, pos);
            case TREOp::Loop: {
                LoopState& ls = loops_[static_cast<std::size_t>(nd.slot)];
                const LoopState saved = ls;
                ls = LoopState{};
                if (decide(nd, pos)) return true;
                loops_[static_cast<std::size_t>(nd.slot)] = saved;
                return false;
            }
            case TREOp::LoopEnd: {
                const TRENode& l = p_.nodes[static_cast<std::size_t>(nd.loop)];
                LoopState& ls = loops_[static_cast<std::size_t>(l.slot)];
                const LoopState saved = ls;
                ++ls.count;
                if (decide(l, pos)) return true;
                loops_[static_cast<std::size_t>(l.slot)] = saved;
                return false;
            }
            }
            node = nd.next;
        }
    }

    // A loop after `count` repetitions: another one (greedy) while allowed, else go on.
    bool decide(const TRENode& l, std::size_t pos) {
        LoopState& ls = loops_[static_cast<std::size_t>(l.slot)];
        // A repetition that took nothing would take nothing again: stop repeating.
        const bool empty = ls.count > 0 && pos == ls.iterStart;
        if (!empty && ls.count < l.max) {
            const LoopState saved = ls;
            ls.iterStart = pos;
            const std::size_t mark = trail_.size();
            if (m(l.body, pos)) return true;
            trail_.resize(mark);
            loops_[static_cast<std::size_t>(l.slot)] = saved;
            if (ls.count < l.min) return false;
        }
        return m(l.next, pos);
    }

    // The bytes one character of set s takes at pos: 0 when it does not match. In UTF-8 a
    // multi-byte character matches when all its bytes are in the set (`.` and `[^...]` hold
    // them all).
    std::size_t take(const TRESet& s, std::size_t pos) const {
        if (pos >= n_ || !s[t_[pos]]) return 0;
        if (!utf8_ || t_[pos] < 0xC2) return 1;
        const std::size_t len = utf8Length(t_, n_, pos);
        for (std::size_t k = 1; k < len; ++k)
            if (!s[t_[pos + k]]) return 0;
        return len;
    }

    bool repeat(const TRENode& nd, std::size_t pos) {
        const TRESet& s = p_.sets[static_cast<std::size_t>(nd.set)];
        if (utf8_) return repeatUtf8(nd, s, pos);
        const std::size_t room = n_ - pos;
        const std::size_t limit =
            nd.max == kREUnbounded ? room : std::min<std::size_t>(nd.max, room);
        std::size_t c = 0;
        while (c < limit && s[t_[pos + c]])
            ++c;
        spend(1 + c / 16);
        if (c < nd.min) return false;
        trail_.push_back({TrailKind::Record, pos});
        const TRENode& next = p_.nodes[static_cast<std::size_t>(nd.next)];
        if (next.op == TREOp::End) {
            end_ = pos + c;
            return true;
        }
        const auto fi = static_cast<std::size_t>(nd.follow);
        const TREFirst* f = nd.follow >= 0 ? &p_.follows[fi] : nullptr;
        const TRESet* table = nd.follow >= 0 ? &p_.followTables[fi] : nullptr;
        const std::size_t mark = trail_.size();
        for (std::size_t k = c;; --k) {
            if (!f || canStart(*f, *table, pos + k)) {
                spend(1);
                if (m(nd.next, pos + k)) return true;
                trail_.resize(mark);
            }
            if (k == nd.min) break;
        }
        return false;
    }

    // The same counting characters: the counts are found going forward and given back one
    // character at a time, stepping back over the character that ends the run.
    bool repeatUtf8(const TRENode& nd, const TRESet& s, std::size_t pos) {
        const std::uint64_t limit = nd.max == kREUnbounded ? std::uint64_t(-1) : nd.max;
        std::uint64_t c = 0;
        std::size_t q = pos;
        for (std::size_t len; c < limit && (len = take(s, q)) > 0; q += len)
            ++c;
        spend(1 + (q - pos) / 16);
        if (c < nd.min) return false;
        trail_.push_back({TrailKind::Record, pos});
        const TRENode& next = p_.nodes[static_cast<std::size_t>(nd.next)];
        if (next.op == TREOp::End) {
            end_ = q;
            return true;
        }
        const auto fi = static_cast<std::size_t>(nd.follow);
        const TREFirst* f = nd.follow >= 0 ? &p_.follows[fi] : nullptr;
        const TRESet* table = nd.follow >= 0 ? &p_.followTables[fi] : nullptr;
        const std::size_t mark = trail_.size();
        for (std::uint64_t k = c;; --k) {
            if (!f || canStart(*f, *table, q)) {
                spend(1);
                if (m(nd.next, q)) return true;
                trail_.resize(mark);
            }
            if (k == nd.min) break;
            // Back over one character: the nearest start before q within the run.
            std::size_t back = q - 1;
            while (back > pos && !utf8Start(t_, n_, back))
                --back;
            q = back;
        }
        return false;
    }

    const TREProgram& p_;
    const unsigned char* t_;
    std::size_t n_;
    int maxDepth_;
    bool utf8_;
    int depth_ = 0;
    std::vector<LoopState> loops_;
    std::vector<TrailEntry> trail_;
    std::size_t end_ = 0;
};

bool candidate(const TREProgram& p, const unsigned char* t, std::size_t n, std::size_t pos) {
    if (p.first.anywhere) return true;
    if (pos < n) return p.firstTable[t[pos]] != 0 || (pos == 0 && p.first.atStart);
    return (pos == n && p.first.atEnd) || (pos == 0 && p.first.atStart);
}

// The next position at or after pos worth trying, or npos.
std::size_t nextCandidate(const TREProgram& p, const unsigned char* t, std::size_t n,
                          std::size_t pos) {
    constexpr std::size_t npos = std::size_t(-1);
    if (p.first.anywhere) return pos;
    if (pos == 0 && p.first.atStart) return 0;
    if (p.prefix.size() >= 2) {
        if (pos >= n) return npos;
        const void* hit = memmem(t + pos, n - pos, p.prefix.data(), p.prefix.size());
        return hit ? static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - t) : npos;
    }
    if (p.firstByte >= 0 && pos < n) {
        const void* hit = std::memchr(t + pos, p.firstByte, n - pos);
        if (hit) return static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - t);
        pos = n;
    }
    while (pos < n && !p.firstTable[t[pos]])
        ++pos;
    if (pos < n || p.first.atEnd) return pos;
    return npos;
}

// Whether the leading repeat, started at pos, leaves any count after which the rest of the
// pattern could start; when none does, no match starts anywhere in that run.
bool leadingRunCanMatch(const TREProgram& p, const unsigned char* t, std::size_t n,
                        std::size_t pos) {
    const TRENode& r = p.nodes[static_cast<std::size_t>(p.leadingRepeat)];
    const TRESet& s = p.sets[static_cast<std::size_t>(r.set)];
    std::size_t q = pos;
    while (q < n && s[t[q]])
        ++q;
    if (q - pos < r.min) return false;
    if (r.follow < 0) return true;
    const TREFirst& f = p.follows[static_cast<std::size_t>(r.follow)];
    const TRESet& table = p.followTables[static_cast<std::size_t>(r.follow)];
    if ((q == n && f.atEnd) || (pos == 0 && r.min == 0 && f.atStart)) return true;
    for (std::size_t k = pos + r.min; k <= q && k < n; ++k)
        if (table[t[k]]) return true;
    return false;
}

} // namespace

bool TREParser::Search(TScanStream& stream, bool forward) {
    if (!Run(stream.text(), stream.position(), forward)) return false;
    stream.setPosition(matchStart_);
    return true;
}

bool TREParser::Search(std::string_view text, std::size_t from, bool forward) {
    return Run(text, std::min(from, text.size()), forward);
}

bool TREParser::Run(std::string_view text, std::size_t from, bool forward) {
    if (!program_) {
        error_ = TREError::InvalidParameter;
        errorPos_ = 1;
        return false;
    }
    error_ = TREError::None;
    errorPos_ = 0;
    const TREProgram& p = *program_;
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    Matcher mt(p, text, maxDepth_, utf8_);
    // In UTF-8 no match starts inside a character.
    auto startsChar = [&](std::size_t pos) { return !utf8_ || utf8Start(t, n, pos); };
    // One budget for the whole search, whatever the number of positions tried.
    mt.grant(stepBudget_);
    mt.shouldStop = &ShouldStop;
    struct Tally {
        const Matcher& mt;
        std::uint64_t& out;
        ~Tally() { out = mt.used(); }
    } tally{mt, stepsUsed_};
    auto found = [&](std::size_t pos) {
        matchStart_ = pos;
        matchEnd_ = mt.end();
        mt.positions(positions_);
        return true;
    };
    try {
        if (forward) {
            std::size_t pos = from;
            std::size_t required = 0; // where the required character next occurs
            while (pos <= n) {
                pos = nextCandidate(p, t, n, pos);
                if (pos == std::size_t(-1)) break;
                if (p.requiredByte >= 0 && (required < pos || pos == from)) {
                    const void* hit =
                        pos < n ? std::memchr(t + pos, p.requiredByte, n - pos) : nullptr;
                    if (!hit) break;
                    required = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - t);
                }
                if (p.leadingRepeat >= 0 && !leadingRunCanMatch(p, t, n, pos)) {
                    // Neither a start inside the run nor its end can match: see below.
                    const TRESet& s = p.sets[static_cast<std::size_t>(
                        p.nodes[static_cast<std::size_t>(p.leadingRepeat)].set)];
                    while (pos < n && s[t[pos]])
                        ++pos;
                    ++pos;
                    continue;
                }
                if (!startsChar(pos)) {
                    ++pos;
                    continue;
                }
                mt.grant(kStepsPerPosition);
                mt.at = pos;
                if (mt.attempt(pos)) return found(pos);
                if (p.leadingRepeat >= 0 && pos < n &&
                    p.sets[static_cast<std::size_t>(
                        p.nodes[static_cast<std::size_t>(p.leadingRepeat)].set)][t[pos]]) {
                    // Every start inside this run, and the run's end, went through the same
                    // continuations from here: none of them can match.
                    const TRESet& s = p.sets[static_cast<std::size_t>(
                        p.nodes[static_cast<std::size_t>(p.leadingRepeat)].set)];
                    while (pos < n && s[t[pos]])
                        ++pos;
                }
                ++pos;
            }
        } else {
            std::size_t pos = (from >= n && n > 0) ? n - 1 : from;
            for (;;) {
                if (p.firstByte >= 0 && !p.first.anywhere && !p.first.atStart && pos < n) {
                    const void* hit = memrchr(t, p.firstByte, pos + 1);
                    if (!hit) break;
                    pos = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - t);
                }
                if (candidate(p, t, n, pos) && startsChar(pos)) {
                    mt.grant(kStepsPerPosition);
                    mt.at = pos;
                    if (mt.attempt(pos)) return found(pos);
                }
                if (pos == 0) break;
                --pos;
            }
        }
    } catch (const TooComplex&) {
        error_ = TREError::TooComplex;
        errorPos_ = 1;
    } catch (const Stopped&) {
        error_ = TREError::Stopped;
        errorPos_ = 1;
    }
    return false;
}

long long TREParser::ForEachMatch(std::string_view text, std::size_t from,
                                  const std::function<bool(std::size_t, std::size_t)>& onMatch) {
    long long count = 0;
    std::size_t pos = from;
    while (pos <= text.size()) {
        if (!Run(text, pos, true)) return error_ == TREError::None ? count : -1;
        ++count;
        if (!onMatch(matchStart_, matchEnd_)) break;
        pos = matchEnd_ > matchStart_ ? matchEnd_ : matchStart_ + 1;
    }
    return count;
}

} // namespace morvane::highlight
