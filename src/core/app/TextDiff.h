#pragma once
// A line-by-line comparison of two texts, shown as a unified listing ("-" lines only in the
// first text, "+" lines only in the second, a few unchanged lines around each change).

#include <string>
#include <string_view>
#include <vector>

namespace morvane::app {

struct DiffLine {
    enum Kind { Same, Removed, Added };
    Kind kind;
    std::string text;
};

// The whole comparison, every line of both texts. Lines end at LF, CRLF or CR. Beyond a few
// million line pairs between the first and last difference the middle is shown as all removed,
// then all added, rather than searched for common lines.
std::vector<DiffLine> diffLines(std::string_view before, std::string_view after);

// The unified listing with `context` unchanged lines around each change; empty when the texts
// hold the same lines.
std::string unifiedDiff(std::string_view before, std::string_view after,
                        std::string_view beforeName, std::string_view afterName, int context = 3);

} // namespace morvane::app
