#include "net/ListingParser.h"

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

bool IsTotalLine(const Words& words) {
    return words.size() == 2 && words[0].text == "total" && AllDigits(words[1].text);
}

// A line that does not parse and does not even start like a listing line is the rest of a
// name that contained a line break.
bool IsFragment(const Words& words) {
    if (words.size() == 0 || IsTotalLine(words)) return false;
    std::string_view first = words[0].text;
    static constexpr std::string_view kinds = "-dlbcps";
    return first.size() < 10 || kinds.find(first[0]) == std::string_view::npos;
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
    char first = line.empty() ? '\0' : line[0];
    if (first == 'd') {
        e.Kind = 1;
    } else if (first == 'l') {
        e.Kind = 1;
        if (auto arrow = e.Name.find(" ->"); arrow != std::string::npos) e.Name.resize(arrow);
    }
    return true;
}

void TListingParser::Reset() {
    ++generation_;
    lines_ = 0;
    held_.reset();
}

void TListingParser::Parse(std::string& buffer, std::uint8_t systemType, const Report& report) {
    std::size_t start = 0;
    std::uint64_t generation = generation_;
    for (;;) {
        std::size_t lf = buffer.find('\n', start);
        if (lf == std::string::npos) break;
        std::string_view line(buffer.data() + start, lf - start);
        start = lf + 1;
        ++lines_;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (systemType == 2 || systemType == 3) continue; // no entries for these formats
        TDirectoryEntry e;
        if (ParseListLine(line, e)) {
            std::optional<TDirectoryEntry> ready = std::move(held_);
            held_ = std::move(e);
            if (ready) {
                report(*ready);
                // The receiver may have ended this listing and started another one.
                if (generation != generation_) return;
            }
            continue;
        }
        // Not an entry: skipped. If it is the tail of the previous name, that entry is broken
        // and dropped; its name could never be sent to the server anyway.
        if (held_ && IsFragment(SplitWords(line))) held_.reset();
    }
    buffer.erase(0, start);
}

void TListingParser::Finish(const Report& report) {
    if (held_) {
        TDirectoryEntry e = std::move(*held_);
        held_.reset();
        report(e);
    }
}

} // namespace morvane::net
