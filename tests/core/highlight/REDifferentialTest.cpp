// Random small patterns of the search dialect over random texts (with CR), each compared with
// PCRE2 through a translator of the dialect: found or not, start and end of the first match
// from a random position, forward. MORVANE_RE_SEED=n repeats a run; the seed is printed on
// every failure.
#define PCRE2_CODE_UNIT_WIDTH 8
#include "core/highlight/REParser.h"

#include <pcre2.h>

#include <gtest/gtest.h>

#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

using namespace morvane::highlight;

namespace {

// ---- the translator: dialect -> PCRE2 (no UTF, no multi-line) ----

class Translator {
public:
    explicit Translator(std::string_view p) : p_(p) {}
    std::string run() {
        std::string out = alt();
        return out;
    }

private:
    static std::string hex(int c) {
        char b[16];
        std::snprintf(b, sizeof b, "\\x{%02x}", c & 0xFF);
        return b;
    }
    static std::string setText(const std::bitset<256>& s) {
        if (s.none()) return "(*FAIL)";
        std::string out = "[";
        for (int c = 0; c < 256; ++c)
            if (s.test(c)) out += hex(c);
        return out + "]";
    }
    bool at(char c) const { return i_ < p_.size() && p_[i_] == c; }
    bool bar2() const { return i_ + 1 < p_.size() && p_[i_] == '|' && p_[i_ + 1] == '|'; }

    std::string alt() {
        std::string out = both();
        while (at('|') && !bar2()) {
            ++i_;
            out += "|" + both();
        }
        return out;
    }
    std::string both() {
        std::string a = seq();
        while (bar2()) {
            i_ += 2;
            const std::string b = seq();
            a = "(?:(?:" + a + ")(?:" + b + ")?|(?:" + b + ")(?:" + a + ")?)";
        }
        return a;
    }
    std::string seq() {
        std::string out;
        while (i_ < p_.size() && !at('|') && !at(')')) {
            std::string a = "(?:" + atom() + ")";
            if (at('*') || at('+') || at('?')) {
                a += p_[i_++];
            } else if (at('{')) {
                const std::size_t close = p_.find('}', i_);
                std::string body(p_.substr(i_ + 1, close - i_ - 1));
                if (!body.empty() && body[0] == ',') body = "0" + body;
                a += "{" + body + "}";
                i_ = close + 1;
            }
            out += a;
        }
        return out;
    }
    static std::bitset<256> classOf(char c) {
        std::bitset<256> s;
        const char l = static_cast<char>(c | 0x20);
        if (l == 'd') {
            for (int k = '0'; k <= '9'; ++k)
                s.set(k);
        } else if (l == 's') {
            for (int k : {13, 32, 10, 12, 9, 8})
                s.set(k);
        } else {
            for (int k = 0; k < 256; ++k)
                if (std::isalnum(k) && k < 128) s.set(k);
            s.set('_');
        }
        if (c >= 'A' && c <= 'Z') s.flip();
        return s;
    }
    // An escape: a character, or a class when classes are allowed.
    int escape(std::bitset<256>* cls) {
        ++i_;
        const char c = p_[i_++];
        if (cls && std::string_view("dswDSW").find(c) != std::string_view::npos) {
            *cls = classOf(c);
            return -1;
        }
        if (c >= '0' && c <= '7') {
            int v = c - '0';
            for (int n = 1; n < 3 && at('0') + at('1') + at('2') + at('3') + at('4') + at('5') +
                                         at('6') + at('7');
                 ++n) {
                if (v * 8 + (p_[i_] - '0') > 255) break;
                v = v * 8 + (p_[i_++] - '0');
            }
            return v;
        }
        switch (c | 0x20) {
        case 'b':
            return 8;
        case 'f':
            return 12;
        case 'n':
            return 13;
        case 'r':
            return 10;
        case 't':
            return 9;
        case 'x': {
            int v = 0;
            for (int n = 0;
                 n < 2 && i_ < p_.size() && std::isxdigit(static_cast<unsigned char>(p_[i_])); ++n)
                v = v * 16 + std::stoi(std::string(1, p_[i_++]), nullptr, 16);
            return v;
        }
        }
        return static_cast<unsigned char>(c);
    }
    std::string atom() {
        const char c = p_[i_];
        switch (c) {
        case '(': {
            ++i_;
            std::string inner = alt();
            ++i_;
            return inner;
        }
        case '.':
            ++i_;
            return "[^\\r]";
        case '^':
            ++i_;
            return "\\A|\\r";
        case '$':
            ++i_;
            return "(?=\\r|\\z)";
        case '"': {
            ++i_;
            std::string out;
            while (!at('"'))
                out += at('\\') ? hex(escape(nullptr)) : hex(p_[i_++]);
            ++i_;
            return out;
        }
        case '[': {
            ++i_;
            bool neg = at('^');
            if (neg) ++i_;
            std::bitset<256> s;
            while (!at(']')) {
                std::bitset<256> cls;
                const int lo = at('\\') ? escape(&cls) : static_cast<unsigned char>(p_[i_++]);
                if (lo < 0) {
                    s |= cls;
                    continue;
                }
                int hi = lo;
                if (at('-')) {
                    ++i_;
                    hi = at('\\') ? escape(nullptr) : static_cast<unsigned char>(p_[i_++]);
                }
                for (int k = lo; k <= hi; ++k)
                    s.set(k);
            }
            ++i_;
            if (neg) s.flip();
            return setText(s);
        }
        case '\\': {
            std::bitset<256> cls;
            const int ch = escape(&cls);
            return ch < 0 ? setText(cls) : hex(ch);
        }
        default:
            ++i_;
            return hex(c);
        }
    }

    std::string_view p_;
    std::size_t i_ = 0;
};

// ---- random patterns ----

class Gen {
public:
    explicit Gen(std::uint64_t seed) : rng_(seed) {}
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::string pattern(int depth = 0) {
        std::string out = branch(depth);
        const int k = pick(5);
        if (k == 0) out += "|" + branch(depth);
        if (k == 1 && depth < 2) out += "||" + branch(depth);
        return out;
    }
    std::string text() {
        static const char alphabet[] = {'a', 'b', 'c', '1', ' ', '\r', '\n', '_'};
        std::string t;
        const int n = pick(14);
        for (int i = 0; i < n; ++i)
            t += alphabet[pick(8)];
        return t;
    }

private:
    std::string branch(int depth) {
        std::string out;
        const int n = 1 + pick(3);
        for (int i = 0; i < n; ++i)
            out += piece(depth);
        return out;
    }
    std::string piece(int depth) {
        std::string a = atom(depth);
        switch (pick(10)) {
        case 0:
            return a + "*";
        case 1:
            return a + "+";
        case 2:
            return a + "?";
        case 3: {
            static const char* counts[] = {"{2}", "{1,}", "{0,2}", "{,2}", "{1,3}", "{0}"};
            return a + counts[pick(6)];
        }
        default:
            return a;
        }
    }
    std::string atom(int depth) {
        static const char* simple[] = {
            "a",      "b",      "c",    "1",     ".",   "^",    "$",     "\\n",   "\\d",
            "\\s",    "\\w",    "\\D",  "\\S",   "\\W", "[ab]", "[^a]",  "[a-c]", "[^\\n]",
            "[\\d_]", "\"ab\"", "\"\"", "\\x61", "\\ ", "\\r",  "\\141", "_"};
        if (depth < 2 && pick(5) == 0) return "(" + pattern(depth + 1) + ")";
        return simple[pick(static_cast<int>(std::size(simple)))];
    }
    std::mt19937_64 rng_;
};

struct Pcre {
    pcre2_code* code = nullptr;
    pcre2_match_data* md = nullptr;
    explicit Pcre(const std::string& pattern) {
        int err = 0;
        PCRE2_SIZE off = 0;
        code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), 0, &err,
                             &off, nullptr);
        if (code) md = pcre2_match_data_create_from_pattern(code, nullptr);
    }
    ~Pcre() {
        pcre2_match_data_free(md);
        pcre2_code_free(code);
    }
    // -1: no match, -2: error; else the match start, end in `end`.
    long long match(const std::string& text, std::size_t from, std::size_t& end,
                    std::uint32_t options = 0) {
        const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                   from, options, md, nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) return -1;
        if (rc < 0) return -2;
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        end = ov[1];
        return static_cast<long long>(ov[0]);
    }
};

std::string show(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += static_cast<char>(c);
    }
    return out;
}

} // namespace

TEST(REDifferential, AgreesWithAnIndependentEngine) {
    std::uint64_t seed = 20240601;
    if (const char* env = std::getenv("MORVANE_RE_SEED")) seed = std::strtoull(env, nullptr, 10);
    Gen gen(seed);
    int compared = 0, failures = 0;
    for (int i = 0; i < 4000 && failures < 10; ++i) {
        const std::string pattern = gen.pattern();
        TREParser re;
        if (!re.SetExpression(pattern)) continue; // the dialect refuses it (a repeat of empty)
        Pcre pcre(Translator(pattern).run());
        ASSERT_NE(pcre.code, nullptr) << "seed " << seed << " pattern " << pattern;
        for (int k = 0; k < 6; ++k) {
            const std::string text = gen.text();
            const std::size_t from =
                text.empty()
                    ? 0
                    : static_cast<std::size_t>(gen.pick(static_cast<int>(text.size()) + 1));
            std::size_t pend = 0;
            const long long pstart = pcre.match(text, from, pend);
            ASSERT_NE(pstart, -2) << "seed " << seed;
            const bool found = re.Search(text, from, true);
            ASSERT_EQ(re.ErrorNumber(), TREError::None)
                << "seed " << seed << " pattern " << pattern;
            ++compared;
            const bool same = found == (pstart >= 0) &&
                              (!found || (static_cast<long long>(re.MatchStart()) == pstart &&
                                          re.MatchEnd() == pend));
            if (!same) {
                ++failures;
                ADD_FAILURE() << "seed " << seed << " case " << i << ": pattern " << show(pattern)
                              << " text \"" << show(text) << "\" from " << from << ": ours "
                              << (found ? std::to_string(re.MatchStart()) + ".." +
                                              std::to_string(re.MatchEnd())
                                        : "none")
                              << ", reference "
                              << (pstart >= 0 ? std::to_string(pstart) + ".." + std::to_string(pend)
                                              : "none");
            }
        }
    }
    EXPECT_GT(compared, 10000) << "seed " << seed;
}

// Backward: the first position, going down, where an anchored match exists.
TEST(REDifferential, BackwardAgreesWithAnchoredMatches) {
    std::uint64_t seed = 7;
    if (const char* env = std::getenv("MORVANE_RE_SEED")) seed = std::strtoull(env, nullptr, 10);
    Gen gen(seed);
    int failures = 0;
    for (int i = 0; i < 1500 && failures < 10; ++i) {
        const std::string pattern = gen.pattern();
        TREParser re;
        if (!re.SetExpression(pattern)) continue;
        Pcre pcre(Translator(pattern).run());
        ASSERT_NE(pcre.code, nullptr) << "seed " << seed << " pattern " << pattern;
        const std::string text = gen.text();
        const std::size_t from =
            static_cast<std::size_t>(gen.pick(static_cast<int>(text.size()) + 1));
        long long pstart = -1;
        std::size_t pend = 0;
        const std::size_t first = (from == text.size() && from > 0) ? from - 1 : from;
        for (std::size_t p = first + 1; p-- > 0;) {
            if (pcre.match(text, p, pend, PCRE2_ANCHORED) >= 0) {
                pstart = static_cast<long long>(p);
                break;
            }
        }
        const bool found = re.Search(text, from, false);
        const bool same = found == (pstart >= 0) &&
                          (!found || (static_cast<long long>(re.MatchStart()) == pstart &&
                                      re.MatchEnd() == pend));
        if (!same) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << " case " << i << ": pattern " << show(pattern)
                          << " text \"" << show(text) << "\" from " << from << " backward: ours "
                          << (found ? std::to_string(re.MatchStart()) : "none") << ", reference "
                          << pstart;
        }
    }
}
