#include "core/highlight/SYM_Compiler.h"

#include <cstdio>

namespace morvane::highlight {

void definePredefinedMacros(TSYM_Compiler& c);

namespace {

bool isLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
bool isIdentChar(int c) {
    return isLetter(c) || isDigit(c) || c == '_';
}
int hexValue(int c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string formatError(int line, int column, const std::string& text) {
    return "** ERROR near line " + std::to_string(line) + ", Column " + std::to_string(column) +
           ": " + text;
}

} // namespace

ESYM_COMP_ERROR::ESYM_COMP_ERROR(int l, int c, const std::string& t)
    : std::runtime_error(formatError(l, c, t)), line(l), column(c), text(t) {}

TSYM_Compiler::TSYM_Compiler(std::string text, std::filesystem::path includeDir)
    : includeDir_(std::move(includeDir)) {
    definePredefinedMacros(*this);
    Source s;
    s.name = "-script-";
    s.text = std::make_shared<const std::string>(std::move(text));
    s.isFile = true;
    s.folder = includeDir_;
    sources_.push_back(std::move(s));
}

void TSYM_Compiler::define(std::string_view name, std::string value) {
    auto v = std::make_shared<const std::string>(std::move(value));
    if (auto idx = macroNames_.find(name)) {
        macroValues_[std::size_t(*idx)] = std::move(v);
        return;
    }
    macroNames_.set(name, std::int32_t(macroValues_.size()));
    macroValues_.push_back(std::move(v));
}

int TSYM_Compiler::line() const {
    for (auto it = sources_.rbegin(); it != sources_.rend(); ++it)
        if (it->isFile) return it->line;
    return 1;
}

int TSYM_Compiler::column() const {
    for (auto it = sources_.rbegin(); it != sources_.rend(); ++it)
        if (it->isFile) return it->col;
    return 1;
}

void TSYM_Compiler::error(const std::string& message) const {
    throw ESYM_COMP_ERROR(line(), column(), message);
}

int TSYM_Compiler::peek(std::size_t ahead) const {
    const Source& s = sources_.back();
    std::size_t p = s.pos + ahead;
    return p < s.text->size() ? std::uint8_t((*s.text)[p]) : -1;
}

void TSYM_Compiler::advance() {
    Source& s = top();
    if (s.pos < s.text->size()) {
        ++s.pos;
        ++s.col;
    }
}

// CR, LF and CR LF each end a line.
void TSYM_Compiler::newLine() {
    Source& s = top();
    bool cr = peek() == '\r';
    ++s.pos;
    if (cr && peek() == '\n') ++s.pos;
    ++s.line;
    s.col = 1;
}

bool TSYM_Compiler::popExhausted() {
    bool popped = false;
    while (sources_.size() > 1 && top().pos >= top().text->size()) {
        if (--active_[top().name] == 0) active_.erase(top().name);
        if (top().isFile) --includeDepth_;
        sources_.pop_back();
        popped = true;
    }
    return popped;
}

void TSYM_Compiler::pushSource(Source s) {
    active_[s.name]++;
    sources_.push_back(std::move(s));
}

void TSYM_Compiler::skipBlockComment() {
    advance();
    advance();
    for (;;) {
        int c = peek();
        if (c < 0) return;
        if (c == '*' && peek(1) == '/') {
            advance();
            advance();
            return;
        }
        if (c == '\r' || c == '\n')
            newLine();
        else
            advance();
    }
}

void TSYM_Compiler::skipLineComment() {
    while (peek() >= 0 && peek() != '\r' && peek() != '\n')
        advance();
}

// A string passed over while skipping: no value is kept.
void TSYM_Compiler::skipString() {
    advance();
    for (;;) {
        int c = peek();
        if (c < 0) return;
        if (c == '\'') {
            advance();
            return;
        }
        if (c == '\\' && peek(1) >= 0) {
            advance();
            c = peek();
        }
        if (c == '\r' || c == '\n')
            newLine();
        else
            advance();
    }
}

void TSYM_Compiler::lexString() {
    raw_.clear();
    advance(); // the opening quote
    for (;;) {
        int c = peek();
        if (c < 0) return; // the end of input ends the string
        if (c == '\'') {
            advance();
            return;
        }
        if (c == '\\') {
            int n = peek(1);
            if (n == '\r' || n == '\n') {
                // A continued line: the backslash, the break, the blanks and control characters
                // after it and one backslash that may follow them are dropped.
                advance();
                newLine();
                while (peek() >= 0 && (peek() <= 32 || peek() == 0xA0) && peek() != '\r' &&
                       peek() != '\n')
                    advance();
                if (peek() == '\\') advance();
                continue;
            }
            raw_.push_back('\\');
            advance();
            if (n < 0) return;
            raw_.push_back(char(n));
            if (n == '\r' || n == '\n')
                newLine();
            else
                advance();
            continue;
        }
        raw_.push_back(char(c));
        if (c == '\r' || c == '\n') {
            if (c == '\r' && peek(1) == '\n') raw_.push_back('\n');
            newLine();
        } else {
            advance();
        }
    }
}

std::string TSYM_Compiler::processEscapes(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c != '\\' || i + 1 >= raw.size()) {
            out.push_back(c);
            continue;
        }
        char e = raw[++i];
        switch (e) {
        case 'b':
            out.push_back(8);
            break;
        case 'e':
            out.push_back(27);
            break;
        case 'n':
            out.push_back(13);
            break;
        case 'r':
            out.push_back(10);
            break;
        case 's':
            out.push_back(32);
            break;
        case 't':
            out.push_back(9);
            break;
        case 'x': {
            unsigned v = 0;
            while (i + 1 < raw.size() && hexValue(std::uint8_t(raw[i + 1])) >= 0)
                v = (v * 16 + unsigned(hexValue(std::uint8_t(raw[++i])))) & 0xFFFF;
            out.push_back(char(v));
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned v = unsigned(e - '0');
                while (i + 1 < raw.size() && raw[i + 1] >= '0' && raw[i + 1] <= '7')
                    v = (v * 8 + unsigned(raw[++i] - '0')) & 0xFFFF;
                out.push_back(char(v));
            } else {
                out.push_back(e);
            }
        }
    }
    return out;
}

std::string TSYM_Compiler::stringValue() const {
    return processEscapes(raw_);
}

bool TSYM_Compiler::lexKeyword() {
    const Source& s = sources_.back();
    std::string_view rest(*s.text);
    rest.remove_prefix(s.pos);
    for (auto [len, value] : keywords_.prefixesOf(rest)) {
        // "or" is not a keyword inside "order".
        if (isIdentChar(std::uint8_t(rest[len - 1])) && len < rest.size() &&
            isIdentChar(std::uint8_t(rest[len])))
            continue;
        for (std::size_t i = 0; i < len; ++i)
            advance();
        token_ = SymToken(value);
        return true;
    }
    return false;
}

SymToken TSYM_Compiler::next() {
    for (;;) {
        popExhausted();
        int c = peek();
        if (c < 0) {
            if (sources_.size() == 1) return token_ = symEnd;
            continue;
        }
        if (c == ' ' || c == '\t' || c == 0xA0) {
            advance();
            continue;
        }
        if (c == '\r' || c == '\n') {
            newLine();
            continue;
        }
        if (c == '/' && peek(1) == '*') {
            skipBlockComment();
            continue;
        }
        if (c == '/' && peek(1) == '/') {
            skipLineComment();
            continue;
        }
        if (c == '#' && isLetter(peek(1)) && directive()) continue;
        if (skipping_) {
            if (c == '\'')
                skipString();
            else
                advance();
            continue;
        }
        if (c == '\'') {
            lexString();
            return token_ = symString;
        }
        if (lexKeyword()) return token_;
        if (isDigit(c)) {
            std::uint32_t v = 0;
            while (isDigit(peek())) {
                v = v * 10 + std::uint32_t(peek() - '0');
                advance();
            }
            number_ = v;
            return token_ = symNumber;
        }
        if (isLetter(c) || c == '_') {
            std::string name;
            while (isIdentChar(peek())) {
                name.push_back(char(peek()));
                advance();
            }
            auto idx = macroNames_.find(name);
            if (!idx) error("Identifier \"" + name + "\" Unknown");
            std::string key = name;
            for (auto& ch : key)
                if (ch >= 'A' && ch <= 'Z') ch = char(ch + 32);
            if (active_.count(key)) error("Recursive expansion of macro '" + name + "'");
            const auto& value = macroValues_[std::size_t(*idx)];
            if (++expansions_ > kMaxExpansions ||
                (expandedBytes_ += value->size()) > kMaxExpandedBytes)
                error("Too many macro expansions");
            Source s;
            s.name = std::move(key);
            s.text = value;
            pushSource(std::move(s));
            continue;
        }
        char buf[40];
        std::snprintf(buf, sizeof buf, "Unknown character in input stream: #$%.2x", c);
        error(buf);
    }
}

} // namespace morvane::highlight
