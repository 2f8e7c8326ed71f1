// Compiling a search pattern: a recursive-descent parser builds a tree, which is then laid out
// as linked nodes, back to front, so each piece knows what follows it.
#include "core/highlight/REParser.h"

#include "core/highlight/REProgram.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace morvane::highlight {

const char* REErrorMessage(TREError error) {
    switch (error) {
    case TREError::None:
        return "";
    case TREError::InvalidParameter:
        return "Invalid parameter";
    case TREError::TooManySubExpressions:
        return "Too many sub-expressions";
    case TREError::UnmatchedParenthesis:
        return "Unmatched parenthesis";
    case TREError::InvalidRepeat:
        return "Invalid repeat";
    case TREError::NestedRepeat:
        return "Nested repeat";
    case TREError::InvalidRange:
        return "Invalid range";
    case TREError::UnmatchedBracket:
        return "Unmatched bracket";
    case TREError::HexDigitExpected:
        return "Hex digit expected";
    case TREError::UnexpectedEnd:
        return "Unexpected end of input";
    case TREError::QuoteExpected:
        return "' expected";
    case TREError::InternalError:
        return "Internal error";
    case TREError::Stopped:
        return "Search stopped";
    case TREError::IndexRangeError:
        return "Index range error";
    case TREError::TooComplex:
        return "Expression too complex";
    }
    return "Internal error";
}

namespace {

constexpr unsigned char kCR = 13;
constexpr int kMaxGroups = 9;
constexpr std::uint32_t kMaxCount = 65535;
// Tree nodes a pattern may need; `A||B` copies its operands, so chains of it grow fast.
constexpr std::size_t kMaxTree = 200000;

struct CompileError {
    TREError error;
    std::size_t pos; // 1-based
};

enum class K { Str, Set, Bol, Eol, Empty, Cat, Alt, Group, Repeat };

struct Ast {
    explicit Ast(K k) : kind(k) {}
    K kind;
    std::string str;       // Str
    int set = -1;          // Set
    std::vector<int> kids; // Cat, Alt, Group (one), Repeat (one)
    std::uint32_t min = 0, max = 0;
};

class Compiler {
public:
    Compiler(std::string_view pattern, TREProgram& prog) : p_(pattern), prog_(prog) {}

    void compile() {
        const int root = parseAlt();
        if (i_ < p_.size()) throw CompileError{TREError::UnmatchedParenthesis, i_ + 1}; // a ')'
        const int end = add(TRENode(TREOp::End, -1));
        prog_.start = emit(root, end);
        prog_.required = required(root);
    }

private:
    // ---- tree ----
    int node(Ast a) {
        if (ast_.size() >= kMaxTree) throw CompileError{TREError::TooComplex, i_ + 1};
        ast_.push_back(std::move(a));
        return static_cast<int>(ast_.size()) - 1;
    }
    int setNode(const TRESet& s) {
        prog_.sets.push_back(s);
        Ast a(K::Set);
        a.set = static_cast<int>(prog_.sets.size()) - 1;
        return node(std::move(a));
    }
    int strNode(std::string s) {
        if (s.empty()) return node(Ast(K::Empty));
        if (s.size() == 1) {
            TRESet set{};
            set[static_cast<unsigned char>(s[0])] = 1;
            return setNode(set);
        }
        Ast a(K::Str);
        a.str = std::move(s);
        return node(std::move(a));
    }
    // The tree grows by copying when `A||B` repeats its operands.
    int copy(int n) {
        Ast a = ast_[n];
        for (int& k : a.kids)
            k = copy(k);
        return node(std::move(a));
    }
    std::size_t treeSize(int n) const {
        std::size_t s = 1;
        for (int k : ast_[n].kids)
            s += treeSize(k);
        return s;
    }

    // Shortest text a tree can match is non-empty.
    bool width(int n) const {
        const Ast& a = ast_[n];
        switch (a.kind) {
        case K::Str:
        case K::Set:
            return true;
        case K::Bol:
            return false; // empty at the start of the text
        case K::Eol:
        case K::Empty:
            return false;
        case K::Cat:
            return std::any_of(a.kids.begin(), a.kids.end(), [&](int k) { return width(k); });
        case K::Alt:
            return std::all_of(a.kids.begin(), a.kids.end(), [&](int k) { return width(k); });
        case K::Group:
            return width(a.kids[0]);
        case K::Repeat:
            return a.min > 0 && width(a.kids[0]);
        }
        return false;
    }

    // Characters every match of tree n contains.
    std::bitset<256> required(int n) const {
        const Ast& a = ast_[n];
        std::bitset<256> r;
        switch (a.kind) {
        case K::Str:
            for (unsigned char c : a.str)
                r.set(c);
            break;
        case K::Set: {
            const TRESet& s = prog_.sets[static_cast<std::size_t>(a.set)];
            if (std::count(s.begin(), s.end(), 1) == 1)
                r.set(static_cast<std::size_t>(std::find(s.begin(), s.end(), 1) - s.begin()));
            break;
        }
        case K::Cat:
            for (int k : a.kids)
                r |= required(k);
            break;
        case K::Alt:
            r.set();
            for (int k : a.kids)
                r &= required(k);
            break;
        case K::Group:
            r = required(a.kids[0]);
            break;
        case K::Repeat:
            if (a.min > 0) r = required(a.kids[0]);
            break;
        default:
            break;
        }
        return r;
    }

    // ---- parsing ----
    bool at(char c) const { return i_ < p_.size() && p_[i_] == c; }
    bool atDoubleBar() const { return i_ + 1 < p_.size() && p_[i_] == '|' && p_[i_ + 1] == '|'; }

    int parseAlt() {
        std::vector<int> alts{parseBoth()};
        while (at('|') && !atDoubleBar()) {
            ++i_;
            alts.push_back(parseBoth());
        }
        if (alts.size() == 1) return alts[0];
        Ast a(K::Alt);
        a.kids = std::move(alts);
        return node(std::move(a));
    }

    // A||B: ((A)(B)?)|((B)(A)?) as one piece, each operand wrapped whole.
    int parseBoth() {
        int left = parseSeq();
        while (atDoubleBar()) {
            const std::size_t at = i_;
            i_ += 2;
            const int right = parseSeq();
            if (2 * (treeSize(left) + treeSize(right)) + ast_.size() + 16 > kMaxTree)
                throw CompileError{TREError::TooComplex, at + 1};
            auto group = [&](int k) {
                Ast g(K::Group);
                g.kids = {k};
                return node(std::move(g));
            };
            auto optional = [&](int k) {
                Ast r(K::Repeat);
                r.kids = {group(k)};
                r.min = 0;
                r.max = 1;
                return node(std::move(r));
            };
            Ast first(K::Cat);
            first.kids = {group(left), optional(right)};
            const int f = node(std::move(first));
            Ast second(K::Cat);
            second.kids = {group(copy(right)), optional(copy(left))};
            const int s = node(std::move(second));
            Ast alt(K::Alt);
            alt.kids = {f, s};
            left = group(node(std::move(alt)));
        }
        return left;
    }

    int parseSeq() {
        std::vector<int> items;
        std::string run; // adjacent single characters become one string
        auto flush = [&] {
            if (!run.empty()) items.push_back(strNode(std::move(run)));
            run.clear();
        };
        while (i_ < p_.size() && !at('|') && !at(')')) {
            const std::size_t atomPos = i_;
            int literal = -1;
            const int atom = parseAtom(literal);
            if (isRepeatChar()) {
                flush();
                const int operand =
                    literal >= 0 ? strNode(std::string(1, static_cast<char>(literal))) : atom;
                items.push_back(parseRepeats(operand, atomPos));
            } else if (literal >= 0) {
                run.push_back(static_cast<char>(literal));
            } else {
                flush();
                items.push_back(atom);
            }
        }
        flush();
        if (items.empty()) return node(Ast(K::Empty));
        if (items.size() == 1) return items[0];
        Ast a(K::Cat);
        a.kids = std::move(items);
        return node(std::move(a));
    }

    bool isRepeatChar() const { return at('*') || at('+') || at('?') || at('{'); }

    int parseRepeats(int atom, std::size_t atomPos) {
        (void)atomPos;
        const std::size_t opPos = i_;
        std::uint32_t min = 0, max = kREUnbounded;
        const char op = p_[i_++];
        if (op == '*') {
            min = 0;
        } else if (op == '+') {
            min = 1;
        } else if (op == '?') {
            max = 1;
        } else {
            parseCount(opPos, min, max);
        }
        if (isRepeatChar()) throw CompileError{TREError::NestedRepeat, i_ + 1};
        if (max == kREUnbounded && !width(atom))
            throw CompileError{TREError::InvalidRepeat, opPos + 1};
        Ast r(K::Repeat);
        r.kids = {atom};
        r.min = min;
        r.max = max;
        return node(std::move(r));
    }

    // {n} {n,} {n,m} {,m}; i_ is just after the '{'.
    void parseCount(std::size_t bracePos, std::uint32_t& min, std::uint32_t& max) {
        const CompileError bad{TREError::InvalidRange, bracePos + 1};
        auto number = [&](bool& present) {
            std::uint32_t v = 0;
            present = false;
            while (i_ < p_.size() && p_[i_] >= '0' && p_[i_] <= '9') {
                v = v * 10 + static_cast<std::uint32_t>(p_[i_++] - '0');
                if (v > kMaxCount) throw bad;
                present = true;
            }
            return v;
        };
        bool hasMin = false, hasMax = false;
        min = number(hasMin);
        if (at('}')) {
            if (!hasMin) throw bad;
            ++i_;
            max = min;
            return;
        }
        if (!at(',')) throw bad;
        ++i_;
        max = number(hasMax);
        if (!at('}') || (!hasMin && !hasMax)) throw bad;
        ++i_;
        if (!hasMax) max = kREUnbounded;
        if (max < min) throw bad;
    }

    // One atom. `literal` is set to the character when the atom is a single plain character,
    // so that runs of them can form one string.
    int parseAtom(int& literal) {
        const std::size_t pos = i_;
        const char c = p_[i_];
        switch (c) {
        case '(': {
            if (++groups_ > kMaxGroups)
                throw CompileError{TREError::TooManySubExpressions, pos + 1};
            ++i_;
            const int inner = parseAlt();
            if (!at(')')) throw CompileError{TREError::UnmatchedParenthesis, pos + 1};
            ++i_;
            Ast g(K::Group);
            g.kids = {inner};
            return node(std::move(g));
        }
        case '*':
        case '+':
        case '?':
        case '{':
            throw CompileError{TREError::InvalidRepeat, pos + 1};
        case '.': {
            ++i_;
            TRESet s;
            s.fill(1);
            s[kCR] = 0;
            return setNode(s);
        }
        case '^':
            ++i_;
            return node(Ast(K::Bol));
        case '$':
            ++i_;
            return node(Ast(K::Eol));
        case '[':
            return parseClass();
        case '"': {
            ++i_;
            std::string text;
            while (!at('"')) {
                if (i_ >= p_.size()) throw CompileError{TREError::QuoteExpected, pos + 1};
                if (at('\\')) {
                    TRESet unused;
                    const int ch = parseEscape(nullptr, unused);
                    text.push_back(static_cast<char>(ch));
                } else {
                    text.push_back(p_[i_++]);
                }
            }
            ++i_;
            return strNode(std::move(text));
        }
        case '\\': {
            TRESet cls;
            bool isClass = false;
            const int ch = parseEscape(&isClass, cls);
            if (isClass) return setNode(cls);
            literal = ch;
            return -1;
        }
        default:
            ++i_;
            literal = static_cast<unsigned char>(c);
            return -1;
        }
    }

    static TRESet classOf(char letter) {
        TRESet s{};
        const char lower = static_cast<char>(letter | 0x20);
        if (lower == 'd') {
            for (int ch = '0'; ch <= '9'; ++ch)
                s[ch] = 1;
        } else if (lower == 's') {
            for (int ch : {13, 32, 10, 12, 9, 8})
                s[ch] = 1;
        } else {
            for (int ch = 'a'; ch <= 'z'; ++ch)
                s[ch] = s[ch - 32] = 1;
            for (int ch = '0'; ch <= '9'; ++ch)
                s[ch] = 1;
            s['_'] = 1;
        }
        if (letter >= 'A' && letter <= 'Z')
            for (auto& b : s)
                b = !b;
        return s;
    }

    // At a backslash. Returns the character, or sets *isClass and cls for \d \s \w \D \S \W
    // (only when isClass is given; elsewhere those letters stand for themselves).
    int parseEscape(bool* isClass, TRESet& cls) {
        ++i_;
        if (i_ >= p_.size()) throw CompileError{TREError::UnexpectedEnd, p_.size() + 1};
        const char c = p_[i_++];
        if (isClass && std::strchr("dswDSW", c) && c != 0) {
            *isClass = true;
            cls = classOf(c);
            return -1;
        }
        if (c >= '0' && c <= '7') {
            int v = c - '0';
            for (int n = 1; n < 3 && i_ < p_.size() && p_[i_] >= '0' && p_[i_] <= '7'; ++n) {
                const int w = v * 8 + (p_[i_] - '0');
                if (w > 255) break;
                v = w;
                ++i_;
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
            int v = 0, n = 0;
            while (n < 2 && i_ < p_.size() && std::isxdigit(static_cast<unsigned char>(p_[i_]))) {
                const char h = static_cast<char>(p_[i_++] | 0x20);
                v = v * 16 + (h <= '9' ? h - '0' : h - 'a' + 10);
                ++n;
            }
            if (n == 0) throw CompileError{TREError::HexDigitExpected, i_ + 1};
            return v;
        }
        default:
            return static_cast<unsigned char>(c);
        }
    }

    int parseClass() {
        const std::size_t open = i_++;
        const CompileError unmatched{TREError::UnmatchedBracket, open + 1};
        bool negate = false;
        if (at('^')) {
            negate = true;
            ++i_;
        }
        if (i_ >= p_.size() || at(']')) throw unmatched;
        TRESet s{};
        // One member: a character (returned) or a class escape (merged, -1 returned).
        auto member = [&]() -> int {
            if (i_ >= p_.size()) throw unmatched;
            if (at('\\')) {
                bool isClass = false;
                TRESet cls;
                const int ch = parseEscape(&isClass, cls);
                if (!isClass) return ch;
                for (int k = 0; k < 256; ++k)
                    s[k] |= cls[k];
                return -1;
            }
            return static_cast<unsigned char>(p_[i_++]);
        };
        while (!at(']')) {
            const int lo = member();
            if (at('-') && lo >= 0 && i_ + 1 < p_.size() && p_[i_ + 1] != ']') {
                const std::size_t dash = i_++;
                const int hi = member();
                if (hi < 0 || hi < lo) throw CompileError{TREError::InvalidRange, dash + 1};
                for (int k = lo; k <= hi; ++k)
                    s[k] = 1;
            } else if (at('-') && lo >= 0) {
                // A range whose end is missing: `[a-]`, or the pattern ends.
                throw CompileError{TREError::InvalidRange, i_ + 1};
            } else if (lo >= 0) {
                s[lo] = 1;
            }
            if (i_ >= p_.size()) throw unmatched;
        }
        ++i_;
        if (negate)
            for (auto& b : s)
                b = !b;
        return setNode(s);
    }

    // ---- layout ----
    int add(TRENode n) {
        prog_.nodes.push_back(n);
        return static_cast<int>(prog_.nodes.size()) - 1;
    }

    // Lays out tree n so that it goes on with node `next`; returns its entry node.
    int emit(int n, int next) {
        const Ast& a = ast_[n];
        switch (a.kind) {
        case K::Str: {
            prog_.strings.push_back(a.str);
            TRENode e(TREOp::Exact, next);
            e.str = static_cast<int>(prog_.strings.size()) - 1;
            return add(e);
        }
        case K::Set: {
            TRENode e(TREOp::Set, next);
            e.set = a.set;
            return add(e);
        }
        case K::Bol:
            return add(TRENode(TREOp::Bol, next));
        case K::Eol:
            return add(TRENode(TREOp::Eol, next));
        case K::Empty:
            return add(TRENode(TREOp::Nothing, next));
        case K::Cat: {
            int entry = next;
            for (auto it = a.kids.rbegin(); it != a.kids.rend(); ++it)
                entry = emit(*it, entry);
            return entry;
        }
        case K::Alt: {
            int alt = -1;
            for (auto it = a.kids.rbegin(); it != a.kids.rend(); ++it) {
                const int body = emit(*it, next);
                TRENode b(TREOp::Branch, next);
                b.body = body;
                b.alt = alt;
                alt = add(b);
            }
            return alt;
        }
        case K::Group: {
            const int close = add(TRENode(TREOp::Close, next));
            const int body = emit(a.kids[0], close);
            return add(TRENode(TREOp::Open, body));
        }
        case K::Repeat: {
            const Ast& kid = ast_[a.kids[0]];
            if (a.max == 0) return add(TRENode(TREOp::Nothing, next));
            if (kid.kind == K::Set) {
                TRENode r(TREOp::Repeat, next);
                r.set = kid.set;
                r.min = a.min;
                r.max = a.max;
                return add(r);
            }
            if (a.min == 0 && a.max == 1) {
                // A?: a branch with an empty alternative.
                const int body = emit(a.kids[0], next);
                TRENode empty(TREOp::Nothing, next);
                TRENode b2(TREOp::Branch, next);
                b2.body = add(empty);
                const int second = add(b2);
                TRENode b1(TREOp::Branch, next);
                b1.body = body;
                b1.alt = second;
                return add(b1);
            }
            TRENode loop(TREOp::Loop, next);
            loop.min = a.min;
            loop.max = a.max;
            loop.slot = prog_.loopSlots++;
            const int l = add(loop);
            TRENode end(TREOp::LoopEnd, -1);
            end.loop = l;
            const int e = add(end);
            prog_.nodes[l].body = emit(a.kids[0], e);
            return l;
        }
        }
        return next;
    }

    std::string_view p_;
    TREProgram& prog_;
    std::size_t i_ = 0;
    int groups_ = 0;
    std::vector<Ast> ast_;
};

// ---- what a node can start with ----

class FirstSets {
public:
    explicit FirstSets(const TREProgram& p)
        : p_(p), memo_(p.nodes.size()), state_(p.nodes.size()) {}

    TREFirst of(int n) {
        TREFirst all;
        all.anywhere = true;
        all.bytes.set();
        if (n < 0) return all;
        if (state_[n] == 2) return memo_[n];
        if (state_[n] == 1 || ++depth_ > 2000) { // a cycle, or too deep: anything
            if (state_[n] != 1) --depth_;
            return all;
        }
        state_[n] = 1;
        TREFirst f;
        const TRENode& nd = p_.nodes[n];
        switch (nd.op) {
        case TREOp::End:
            f = all;
            break;
        case TREOp::Bol:
            f.bytes.set(kCR);
            f.atStart = true;
            break;
        case TREOp::Eol:
            f.bytes.set(kCR);
            f.atEnd = true;
            break;
        case TREOp::Set:
            for (int c = 0; c < 256; ++c)
                if (p_.sets[nd.set][c]) f.bytes.set(c);
            break;
        case TREOp::Exact:
            f.bytes.set(static_cast<unsigned char>(p_.strings[nd.str][0]));
            break;
        case TREOp::Nothing:
        case TREOp::Open:
        case TREOp::Close:
            f = of(nd.next);
            break;
        case TREOp::Branch:
            f = merge(of(nd.body), of(nd.alt));
            break;
        case TREOp::Repeat:
            for (int c = 0; c < 256; ++c)
                if (p_.sets[nd.set][c]) f.bytes.set(c);
            if (nd.min == 0) f = merge(f, of(nd.next));
            break;
        case TREOp::Loop:
            f = of(nd.body);
            if (nd.min == 0) f = merge(f, of(nd.next));
            break;
        case TREOp::LoopEnd: {
            const TRENode& l = p_.nodes[nd.loop];
            f = merge(of(l.body), of(l.next));
            break;
        }
        }
        --depth_;
        state_[n] = 2;
        memo_[n] = f;
        return f;
    }

private:
    static TREFirst merge(TREFirst a, const TREFirst& b) {
        if (b.bytes.none() && !b.anywhere && !b.atStart && !b.atEnd) return a;
        a.bytes |= b.bytes;
        a.anywhere |= b.anywhere;
        a.atStart |= b.atStart;
        a.atEnd |= b.atEnd;
        return a;
    }

    const TREProgram& p_;
    std::vector<TREFirst> memo_;
    std::vector<std::uint8_t> state_;
    int depth_ = 0;
};

void analyse(TREProgram& p) {
    FirstSets fs(p);
    p.first = fs.of(p.start);
    for (int c = 0; c < 256; ++c)
        p.firstTable[c] = p.first.bytes.test(c) ? 1 : 0;
    for (auto& nd : p.nodes) {
        if (nd.op != TREOp::Repeat) continue;
        const TREFirst f = fs.of(nd.next);
        if (f.anywhere) continue;
        p.follows.push_back(f);
        TRESet table{};
        for (int c = 0; c < 256; ++c)
            table[c] = f.bytes.test(c) ? 1 : 0;
        p.followTables.push_back(table);
        nd.follow = static_cast<int>(p.follows.size()) - 1;
    }
    // A character every match holds beyond its first: when the rest of the text lacks it, the
    // search can stop.
    const std::bitset<256> later = p.required & ~p.first.bytes;
    if (later.any() && !p.first.anywhere)
        for (int c = 0; c < 256 && p.requiredByte < 0; ++c)
            if (later.test(static_cast<std::size_t>(c))) p.requiredByte = c;
    // Skip the groups that open the pattern: they record but never refuse.
    int n = p.start;
    while (n >= 0 && p.nodes[n].op == TREOp::Open)
        n = p.nodes[n].next;
    if (n >= 0 && p.nodes[n].op == TREOp::Exact) p.prefix = p.strings[p.nodes[n].str];
    if (n >= 0 && p.nodes[n].op == TREOp::Repeat && p.nodes[n].max == kREUnbounded)
        p.leadingRepeat = n;
}

} // namespace

TREParser::TREParser() = default;
TREParser::~TREParser() = default;

bool TREParser::SetExpression(std::string_view pattern) {
    if (haveLast_ && pattern == lastText_) {
        // The same text gives the same answer, a failure included.
        error_ = compileError_;
        errorPos_ = compileErrorPos_;
        return program_ != nullptr;
    }
    lastText_.assign(pattern);
    haveLast_ = true;
    program_.reset();
    compileError_ = TREError::None;
    compileErrorPos_ = 0;
    if (pattern.empty()) {
        compileError_ = TREError::InvalidParameter;
        compileErrorPos_ = 1;
    } else {
        auto prog = std::make_unique<TREProgram>();
        try {
            Compiler(pattern, *prog).compile();
            analyse(*prog);
            program_ = std::move(prog);
        } catch (const CompileError& e) {
            compileError_ = e.error;
            compileErrorPos_ = e.pos;
        }
    }
    error_ = compileError_;
    errorPos_ = compileErrorPos_;
    return program_ != nullptr;
}

std::size_t TREParser::Position(int i) const {
    if (i < 0 || i >= 256) throw ERegExprError(REErrorMessage(TREError::IndexRangeError));
    const auto k = static_cast<std::size_t>(i);
    return k < positions_.size() ? positions_[k] : matchEnd_;
}

int TREParser::PieceCount() const {
    return positions_.empty() ? 0 : static_cast<int>(positions_.size()) - 1;
}

std::size_t TREParser::PieceStart(int n) const {
    if (n < 1 || n >= static_cast<int>(positions_.size())) return matchEnd_;
    return positions_[static_cast<std::size_t>(n) - 1];
}

std::size_t TREParser::PieceEnd(int n) const {
    if (n < 1 || n >= static_cast<int>(positions_.size())) return matchEnd_;
    return positions_[static_cast<std::size_t>(n)];
}

} // namespace morvane::highlight
