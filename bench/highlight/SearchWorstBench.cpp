// The searches whose work once grew with the text times the pattern, through the same code the
// editor runs:
//   morvane_search_worst_bench [runs] [regex MB] [plain MB]
// A regular expression of long literal alternatives over text that begins every one of them (at
// every position each alternative compares its whole length), and a plain search for a long
// pattern whose last byte matches everywhere and whose first difference is in its middle,
// ignoring case and matching case, forward and backward. Medians of `runs` (default 3); the
// sizes default to 50 MB and 1 MB. Generated in memory: no input file.
#include "core/editor/CustomCodeMemo.h"
#include "core/editor/Streams.h"
#include "core/highlight/CodeMemoSearch.h"
#include "core/highlight/REParser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace morvane;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <class F> double timed(int runs, F&& f) {
    std::vector<double> secs;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        secs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return median(secs);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const double regexMb = argc > 2 ? std::atof(argv[2]) : 50;
    const double plainMb = argc > 3 ? std::atof(argv[3]) : 1;

    {
        // 30 alternatives of 1,000 bytes on a text of 'a': none matches, all compare in full.
        std::string pattern;
        for (int i = 0; i < 30; ++i) {
            if (i) pattern += '|';
            pattern += '"' + std::string(999, 'a') + char('A' + i % 26) + '"';
        }
        const std::string text(static_cast<std::size_t>(regexMb * 1e6), 'a');
        highlight::TREParser re;
        if (!re.SetExpression(pattern)) return 1;
        bool found = false;
        const double s = timed(runs, [&] { found = re.Search(text, 0, true); });
        std::printf("regex, 30 literal alternatives of 1000 bytes on %.0f MB: %s  median %8.3f s\n",
                    regexMb,
                    found                                           ? "found"
                    : re.ErrorNumber() == highlight::TREError::None ? "not found"
                                                                    : re.ErrorText().c_str(),
                    s);
    }

    editor::TCustomCodeMemo memo;
    const auto size = static_cast<std::size_t>(plainMb * 1e6);
    {
        const std::string text(size, 'a');
        editor::TFastMemoryStream in(text);
        memo.LoadFromStream(in);
    }
    highlight::TCodeMemoSearch search(memo);
    const std::string pattern = std::string(50000, 'a') + 'b' + std::string(49999, 'a');
    for (bool matchCase : {false, true})
        for (bool backward : {false, true}) {
            std::intptr_t at = 0;
            const double s = timed(runs, [&] {
                search.ForgetLastFound();
                if (backward)
                    memo.SetSelection(memo.TextLength(), memo.TextLength());
                else
                    memo.SetSelection(0, 0);
                at = search.FindAtOnce(highlight::sfAtOnce |
                                           (matchCase ? unsigned(highlight::sfMatchCase) : 0u) |
                                           (backward ? unsigned(highlight::sfBackward) : 0u),
                                       pattern);
            });
            std::printf(
                "plain %-13s %-8s 100,000-byte pattern on %.0f MB: at %zd  median %8.3f s\n",
                matchCase ? "match case" : "ignoring case", backward ? "backward" : "forward",
                plainMb, at, s);
        }
    return 0;
}
