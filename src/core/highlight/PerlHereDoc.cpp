#include "core/highlight/PerlHereDoc.h"

#include <algorithm>
#include <functional>

namespace morvane::highlight {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool isWordChar(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

void readIntroducer(std::string& terminator, std::size_t& length, TScanStream& s) {
    auto take = [&] {
        s.advance();
        ++length;
    };
    while (!s.atEnd() && ((s.current() >= 1 && s.current() <= 32) || s.current() == 160))
        take();
    if (s.atEnd()) return;
    if (s.current() == '"' || s.current() == '\'') take();
    terminator.clear();
    while (isWordChar(s.current())) {
        if (terminator.size() < kMaxHereDocTerminator) terminator += lower(char(s.current()));
        take();
    }
    while (!s.atEnd() && s.current() != 13)
        take();
}

// Moves to the end of the terminator's first occurrence (compared lower-cased), or to the end of
// the text; returns whether it was found. An empty terminator is never found: a body that ended
// before it began would leave the here-document open with nothing able to close it.
bool skipToTerminator(const std::string& terminator, std::size_t& length, TScanStream& s) {
    std::string_view rest = s.text().substr(s.position());
    if (terminator.empty()) {
        s.setPosition(s.text().size());
        length += rest.size();
        return false;
    }
    auto same = [](char a, char b) { return lower(a) == b; };
    auto it = std::search(rest.begin(), rest.end(), terminator.begin(), terminator.end(), same);
    bool found = it != rest.end();
    std::size_t moved = found ? std::size_t(it - rest.begin()) + terminator.size() : rest.size();
    s.setPosition(s.position() + moved);
    length += moved;
    return found;
}

} // namespace

bool hlPerlCustomParse(TCodeMemoEngine& sender, int type, std::uint8_t& token, std::size_t& length,
                       TScanStream& s) {
    std::string& terminator = sender.customData();
    switch (type) {
    case 1:
        readIntroducer(terminator, length, s);
        return true;
    case 2:
        if (skipToTerminator(terminator, length, s)) {
            for (std::size_t i = 0; i < terminator.size(); ++i)
                s.back();
            length -= std::min(length, terminator.size());
        }
        token = 18;
        return true;
    case 3:
        s.back();
        if (length > 0) --length;
        skipToTerminator(terminator, length, s);
        token = 20;
        return true;
    default:
        return false;
    }
}

} // namespace morvane::highlight
