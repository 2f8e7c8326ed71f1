#include "core/highlight/ScanRoutines.h"

namespace morvane::highlight {

namespace {

constexpr int kCR = 13;

bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
bool isLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isIdentChar(int c) {
    return isLetter(c) || isDigit(c) || c == '_' || c >= 128;
}

bool isUrlChar(int c) {
    return c == '#' || c == '&' || (c >= '-' && c <= ':') || c == '=' || (c >= '?' && c <= 'Z') ||
           c == '\\' || c == '_' || (c >= 'a' && c <= 'z') || c == '|' || c == '~';
}

bool isMailChar(int c) {
    return isLetter(c) || isDigit(c) || c == '~' || c == '.' || c == '@' || c == '-';
}

void skipDigits(TScanStream& s) {
    while (isDigit(s.current()))
        s.advance();
}

bool pascalChar(TScanStream& s) {
    int c = s.current();
    if (c < 0 || c == kCR) return false;
    if (c == '\'') {
        if (s.peek(1) != '\'') return false;
        s.advance();
    }
    s.advance();
    return true;
}

// A final '.' belongs to the sentence, not to the address.
bool runGivingBackDot(TScanStream& s, bool (*member)(int), bool needAt) {
    std::size_t from = s.position();
    bool sawAt = false;
    while (member(s.current())) {
        sawAt = sawAt || s.current() == '@';
        s.advance();
    }
    if (s.position() > from && s.text()[s.position() - 1] == '.') s.back();
    if (s.position() == from || (needAt && !sawAt)) {
        s.setPosition(from);
        return false;
    }
    return true;
}

bool wholeLine(TScanStream& s, std::size_t tokenStart) {
    if (tokenStart > 0 && static_cast<unsigned char>(s.text()[tokenStart - 1]) != kCR) return false;
    while (!s.atEnd() && s.current() != kCR)
        s.advance();
    return true;
}

// Bytes 128-255 are letters here, so that a UTF-8 (or accented) letter never splits a name.
bool identifier(TScanStream& s) {
    if (!isLetter(s.current()) && s.current() != '_' && s.current() < 128) return false;
    while (isIdentChar(s.current()))
        s.advance();
    return true;
}

bool numberOrFp(TScanStream& s) {
    if (!isDigit(s.current())) return false;
    skipDigits(s);
    if (s.current() == '.' && isDigit(s.peek(1))) {
        s.advance();
        skipDigits(s);
    }
    if (s.current() == 'e' || s.current() == 'E') {
        std::size_t n = (s.peek(1) == '+' || s.peek(1) == '-') ? 2 : 1;
        if (isDigit(s.peek(n))) {
            for (; n > 0; --n)
                s.advance();
            skipDigits(s);
        }
    }
    return true;
}

bool signedNumber(TScanStream& s) {
    std::size_t from = s.position();
    if (s.current() == '+' || s.current() == '-') s.advance();
    if (numberOrFp(s)) return true;
    s.setPosition(from);
    return false;
}

bool pascalString(TScanStream& s) {
    if (s.current() != '\'') return false;
    s.advance();
    while (!s.atEnd() && s.current() != kCR) {
        if (s.current() == '\'') {
            s.advance();
            if (s.current() != '\'') return true;
        }
        s.advance();
    }
    return true;
}

// An escaped line end does not continue the string: a string never runs into the next line.
bool cString(TScanStream& s, int quote) {
    if (s.current() != quote) return false;
    s.advance();
    while (!s.atEnd() && s.current() != kCR) {
        int c = s.current();
        s.advance();
        if (c == quote) return true;
        if (c == '\\' && !s.atEnd() && s.current() != kCR) s.advance();
    }
    return true;
}

bool digitRun(TScanStream& s) {
    if (!isDigit(s.current())) return false;
    skipDigits(s);
    return true;
}

bool htmlString(TScanStream& s) {
    if (s.atEnd()) return false;
    s.advance();
    while (!s.atEnd()) {
        int c = s.current();
        s.advance();
        if (c == '"' || c == kCR) break;
    }
    return true;
}

bool jsLineComment(TScanStream& s) {
    while (!s.atEnd() && s.current() != kCR) {
        if (s.current() == '-' && s.peek(1) == '-') {
            std::size_t n = 2;
            while (s.peek(n) == '-')
                ++n;
            if (s.peek(n) == '>') break;
        }
        s.advance();
    }
    return true;
}

} // namespace

std::size_t MailRunEnd(std::string_view text, std::size_t pos) {
    while (pos < text.size() && isMailChar(static_cast<unsigned char>(text[pos])))
        ++pos;
    return pos;
}

bool ScanRoutine(int number, TScanStream& s, std::size_t tokenStart) {
    switch (number) {
    case srPascalChar:
        return pascalChar(s);
    case srUrl:
        return runGivingBackDot(s, isUrlChar, false);
    case srWholeLine:
        return wholeLine(s, tokenStart);
    case srIdentifier:
        return identifier(s);
    case srNumberOrFp:
        return numberOrFp(s);
    case srPascalString:
        return pascalString(s);
    case srCString:
        return cString(s, '"');
    case srCChar:
        return cString(s, '\'');
    case srCNumberOrFpSigned:
        return signedNumber(s);
    case srNumber:
        return digitRun(s);
    case srMailUrl:
        return runGivingBackDot(s, isMailChar, true);
    case srHtmlString:
        return htmlString(s);
    case srJsLineComment:
        return jsLineComment(s);
    case srCStringSq:
        return cString(s, '\'');
    default:
        return false;
    }
}

} // namespace morvane::highlight
