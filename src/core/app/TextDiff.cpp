#include "core/app/TextDiff.h"

#include <algorithm>
#include <cstdint>

namespace morvane::app {

namespace {
constexpr std::size_t kMaxTable = 4'000'000;

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}
} // namespace

std::vector<DiffLine> diffLines(std::string_view before, std::string_view after) {
    auto a = splitLines(before), b = splitLines(after);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    std::vector<DiffLine> out;
    for (std::size_t i = 0; i < head; ++i)
        out.push_back({DiffLine::Same, std::string(a[i])});
    const std::size_t n = a.size() - head - tail, m = b.size() - head - tail;
    if (n > 0 && m > 0 && (n + 1) * (m + 1) <= kMaxTable) {
        // Longest common subsequence of the middle, from the end so the walk goes forwards.
        std::vector<std::uint32_t> table((n + 1) * (m + 1), 0);
        auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& {
            return table[i * (m + 1) + j];
        };
        for (std::size_t i = n; i-- > 0;)
            for (std::size_t j = m; j-- > 0;)
                at(i, j) = a[head + i] == b[head + j] ? at(i + 1, j + 1) + 1
                                                      : std::max(at(i + 1, j), at(i, j + 1));
        std::size_t i = 0, j = 0;
        while (i < n && j < m) {
            if (a[head + i] == b[head + j]) {
                out.push_back({DiffLine::Same, std::string(a[head + i])});
                ++i, ++j;
            } else if (at(i + 1, j) >= at(i, j + 1)) {
                out.push_back({DiffLine::Removed, std::string(a[head + i++])});
            } else {
                out.push_back({DiffLine::Added, std::string(b[head + j++])});
            }
        }
        for (; i < n; ++i)
            out.push_back({DiffLine::Removed, std::string(a[head + i])});
        for (; j < m; ++j)
            out.push_back({DiffLine::Added, std::string(b[head + j])});
    } else {
        for (std::size_t i = 0; i < n; ++i)
            out.push_back({DiffLine::Removed, std::string(a[head + i])});
        for (std::size_t j = 0; j < m; ++j)
            out.push_back({DiffLine::Added, std::string(b[head + j])});
    }
    for (std::size_t i = a.size() - tail; i < a.size(); ++i)
        out.push_back({DiffLine::Same, std::string(a[i])});
    return out;
}

std::string unifiedDiff(std::string_view before, std::string_view after,
                        std::string_view beforeName, std::string_view afterName, int context) {
    std::vector<DiffLine> lines = diffLines(before, after);
    const std::size_t c = std::size_t(std::max(0, context));
    std::string out;
    std::size_t i = 0;
    // Line numbers (1-based) in both texts of lines[i].
    std::size_t lineA = 1, lineB = 1;
    auto advance = [&](std::size_t to) {
        for (; i < to; ++i) {
            if (lines[i].kind != DiffLine::Added) ++lineA;
            if (lines[i].kind != DiffLine::Removed) ++lineB;
        }
    };
    while (i < lines.size()) {
        std::size_t change = i;
        while (change < lines.size() && lines[change].kind == DiffLine::Same)
            ++change;
        if (change == lines.size()) break;
        advance(change >= c ? std::max(i, change - c) : i);
        // The hunk runs until more than 2 * context unchanged lines separate two changes.
        std::size_t end = change;
        for (std::size_t same = 0; end < lines.size(); ++end) {
            same = lines[end].kind == DiffLine::Same ? same + 1 : 0;
            if (same > 2 * c) break;
        }
        // end is past the last line of the hunk's trailing context
        std::size_t last = end;
        while (last > change && lines[last - 1].kind == DiffLine::Same)
            --last;
        end = std::min(lines.size(), last + c);
        std::size_t countA = 0, countB = 0;
        for (std::size_t k = i; k < end; ++k) {
            if (lines[k].kind != DiffLine::Added) ++countA;
            if (lines[k].kind != DiffLine::Removed) ++countB;
        }
        if (out.empty())
            out = "--- " + std::string(beforeName) + "\n+++ " + std::string(afterName) + "\n";
        out += "@@ -" + std::to_string(countA ? lineA : lineA - 1) + "," + std::to_string(countA) +
               " +" + std::to_string(countB ? lineB : lineB - 1) + "," + std::to_string(countB) +
               " @@\n";
        for (std::size_t k = i; k < end; ++k) {
            out += lines[k].kind == DiffLine::Same      ? ' '
                   : lines[k].kind == DiffLine::Removed ? '-'
                                                        : '+';
            out += lines[k].text;
            out += '\n';
        }
        advance(end);
    }
    return out;
}

} // namespace morvane::app
