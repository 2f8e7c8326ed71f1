// Find and replace through an editor control on a large file:
//   morvane_search_bench FILE [runs]
// A plain search for a word that first occurs near the end (case-sensitive and not), the text
// copy the regular-expression search works on, and replace all of a common word with its undo.
// Medians of `runs` (default 5). The word searched for is printed so that grep can look for it.
#include "core/editor/CustomCodeMemo.h"
#include "core/highlight/CodeMemoSearch.h"

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

bool identChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// An identifier of the last few kilobytes whose first occurrence is in the last 1 % of the text.
std::string wordNearTheEnd(const std::string& text) {
    const std::size_t tail = text.size() > 4096 ? text.size() - 4096 : 0;
    for (std::size_t i = tail; i < text.size();) {
        if (!identChar(text[i])) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && identChar(text[j]))
            ++j;
        std::string w = text.substr(i, j - i);
        if (w.size() >= 6 && text.find(w) >= text.size() / 100 * 99) return w;
        i = j;
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    editor::TCustomCodeMemo memo;
    memo.LoadFromFile(argv[1]);
    highlight::TCodeMemoSearch search(memo);
    const std::string text = memo.Text();
    const double mb = double(text.size()) / 1e6;
    std::printf("%s: %.1f MB in the editor\n", argv[1], mb);

    const std::string word = wordNearTheEnd(text);
    std::printf("word near the end: %s\n", word.c_str());
    for (bool matchCase : {true, false}) {
        std::intptr_t at = -1;
        const double s = timed(runs, [&] {
            memo.SetSelection(0, 0);
            search.ForgetLastFound();
            at = search.FindAtOnce(
                highlight::sfAtOnce | (matchCase ? unsigned(highlight::sfMatchCase) : 0u), word);
        });
        std::printf("plain %-16s found at %zd  median %7.3f s  %7.0f MB/s\n",
                    matchCase ? "match case" : "ignoring case", at, s, double(at) / s / 1e6);
    }

    // A regular expression from the editor after an edit: the text is copied for the matcher
    // first (once per change of the text), then searched.
    {
        const std::string pattern = "\"" + word + "\"\\s*";
        std::intptr_t at = -1;
        std::vector<double> secs;
        for (int i = 0; i < runs; ++i) {
            memo.SetSelection(0, 0);
            memo.ReplaceSel("x");
            memo.Undo();
            search.ForgetLastFound();
            memo.SetSelection(0, 0);
            const auto t0 = Clock::now();
            at = search.FindAtOnce(highlight::sfAtOnce | highlight::sfRegExpr, pattern);
            secs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        }
        const double s = median(secs);
        std::printf("regular expression %-16s found: %s  median %7.3f s  %7.0f MB/s\n",
                    pattern.c_str(), at >= 0 ? "yes" : "no", s, mb / s);
    }

    highlight::TSearchRequest r;
    r.text = "return";
    r.matchCase = true;
    r.wholeWord = true;
    std::vector<double> replace, undo;
    long long count = 0;
    for (int i = 0; i < runs; ++i) {
        memo.SetSelection(0, 0);
        search.ForgetLastFound();
        auto t0 = Clock::now();
        count = search.Replace(r, "RETURN", true);
        auto t1 = Clock::now();
        memo.Undo();
        auto t2 = Clock::now();
        replace.push_back(std::chrono::duration<double>(t1 - t0).count());
        undo.push_back(std::chrono::duration<double>(t2 - t1).count());
        if (memo.TextLength() != static_cast<editor::TextOffset>(text.size())) {
            std::printf("undo did not restore the text\n");
            return 1;
        }
    }
    std::printf("replace all 'return' -> 'RETURN': %lld replaced  median %7.3f s, undo median "
                "%7.3f s, together %7.3f s\n",
                count, median(replace), median(undo), median(replace) + median(undo));
    return 0;
}
