#include "core/net/ListingParser.h"

#include <array>

namespace morvane::net {

namespace {

struct Word {
    std::size_t pos;
    std::string_view text;
};

// The first words of a line; nothing needs more than ten, and lines are parsed by the
// hundred thousand, so no allocation here.
struct Words {
    static constexpr std::size_t Max = 10;
    std::array<Word, Max> w{};
    std::size_t count = 0; // Max means "Max or more"
    std::size_t size() const { return count; }
    const Word& operator[](std::size_t i) const { return w[i]; }
};

Words SplitWords(std::string_view line) {
    Words words;
    std::size_t i = 0;
    while (i < line.size() && words.count < Words::Max) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i >= line.size()) break;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        words.w[words.count++] = {start, line.substr(start, i - start)};
    }
    return words;
}

bool AllDigits(std::string_view w) {
    if (w.empty()) return false;
    for (char c : w)
        if (c < '0' || c > '9') return false;
    return true;
}

// Word n (1-based), empty beyond the last.
std::string_view WordAt(const Words& words, std::size_t n) {
    return n >= 1 && n <= words.size() ? words[n - 1].text : std::string_view();
}

std::int64_t SizeOf(std::string_view digits) {
    std::int64_t v = 0;
    for (char c : digits) {
        int d = c - '0';
        if (v > (INT64_MAX - d) / 10) return 0; // does not fit
        v = v * 10 + d;
    }
    return v;
}

} // namespace

bool ParseListLine(std::string_view line, TDirectoryEntry& e) {
    auto words = SplitWords(line);
    std::size_t s;
    if (AllDigits(WordAt(words, 5)))
        s = 5;
    else if (AllDigits(WordAt(words, 4)))
        s = 4;
    else
        return false;
    // An entry without a name is not an entry.
    if (words.size() < s + 4) return false;
    e.Name = std::string(line.substr(words[s + 3].pos));
    e.Attributes = std::string(WordAt(words, 1));
    e.Size = SizeOf(WordAt(words, s));
    e.Date = std::string(WordAt(words, s + 1)) + ' ' + std::string(WordAt(words, s + 2)) + ' ' +
             std::string(WordAt(words, s + 3));
    e.Owner = std::string(WordAt(words, s - 2));
    e.Group = std::string(WordAt(words, s - 1));
    e.Kind = 0;
    e.LinkTarget.clear();
    char first = line.empty() ? '\0' : line[0];
    if (first == 'd') {
        e.Kind = 1;
    } else if (first == 'l') {
        e.Kind = 1;
        if (auto arrow = e.Name.find(" ->"); arrow != std::string::npos) {
            if (e.Name.compare(arrow, 4, " -> ") == 0) e.LinkTarget = e.Name.substr(arrow + 4);
            e.Name.resize(arrow);
        }
    }
    return true;
}

void TListingParser::Reset() {
    lines_ = 0;
    skipped_ = 0;
    skipping_ = false;
    skippedCr_ = false;
    crlf_ = false;
    heldOpen_ = false;
    inName_ = false;
    held_.reset();
}

bool TListingParser::Parse(std::string& buffer, std::uint8_t systemType, const Report& report) {
    std::size_t start = 0;
    if (skipping_) {
        std::size_t lf = buffer.find('\n');
        if (lf == std::string::npos) {
            skippedCr_ = !buffer.empty() ? buffer.back() == '\r' : skippedCr_;
            buffer.clear();
            return true;
        }
        skipping_ = false;
        bool cr = lf > 0 ? buffer[lf - 1] == '\r' : skippedCr_;
        start = lf + 1;
        if (!Line({}, cr, true, systemType, report)) return false;
    }
    for (;;) {
        std::size_t lf = buffer.find('\n', start);
        if (lf == std::string::npos) break;
        std::string_view line(buffer.data() + start, lf - start);
        start = lf + 1;
        bool cr = !line.empty() && line.back() == '\r';
        if (cr) line.remove_suffix(1);
        bool tooLong = line.size() > MaxLine;
        if (tooLong) ++skipped_;
        if (!Line(line, cr, tooLong, systemType, report)) return false;
    }
    buffer.erase(0, start);
    if (buffer.size() > MaxLine) {
        ++skipped_;
        skipping_ = true;
        skippedCr_ = buffer.back() == '\r';
        buffer.clear();
    }
    return true;
}

// One complete line; a line too long to read counts as a line that is no entry.
bool TListingParser::Line(std::string_view line, bool cr, bool tooLong, std::uint8_t systemType,
                          const Report& report) {
    ++lines_;
    if (cr) crlf_ = true;
    if (inName_) { // the rest of a name runs up to the next CR LF
        inName_ = !cr;
        return true;
    }
    if (held_ && heldOpen_ && crlf_) {
        held_.reset();
        inName_ = !cr;
        return true;
    }
    if (line.empty() && !tooLong) return true;
    if (systemType == 2 || systemType == 3) return true; // no entries for these formats
    TDirectoryEntry e;
    bool entry = !tooLong && ParseListLine(line, e);
    std::optional<TDirectoryEntry> ready = std::move(held_);
    held_.reset();
    if (entry) {
        held_ = std::move(e);
        heldOpen_ = !cr;
    }
    // A line that is no entry (an error message, a stray blank line) is skipped; the entry
    // before it is complete.
    return !ready || report(*ready);
}

bool TListingParser::Finish(const Report& report) {
    if (!held_) return true;
    TDirectoryEntry e = std::move(*held_);
    held_.reset();
    return report(e);
}

} // namespace morvane::net
