// Throughput of the search engine on a large file, counting every match of a few patterns:
//   morvane_regex_bench FILE [runs]
// The file's line breaks become CR, as in the editor. Each pattern runs `runs` times (default 5)
// and the median is printed; std::regex runs on a slice of the file for comparison.
#include "core/highlight/REParser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace morvane::highlight;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void ours(const std::string& text, const char* pattern, int runs, bool utf8 = false) {
    TREParser re;
    re.SetUtf8(utf8);
    if (!re.SetExpression(pattern)) {
        std::printf("%-24s compile error: %s\n", pattern, re.ErrorText().c_str());
        return;
    }
    std::vector<double> secs;
    long long count = 0;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        count = re.ForEachMatch(text, 0, [](std::size_t, std::size_t) { return true; });
        secs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    const double m = median(secs);
    std::printf("morvane%s %-24s %9lld matches  median %7.3f s  %7.0f MB/s\n", utf8 ? "/8" : "   ",
                pattern, count, m, double(text.size()) / m / 1e6);
}

// Backward from the end: the last match, as Find with "up" does.
void backward(const std::string& text, const char* pattern, int runs) {
    TREParser re;
    re.SetExpression(pattern);
    std::vector<double> secs;
    std::size_t at = 0;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        re.Search(text, text.size(), false);
        at = re.MatchStart();
        secs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::printf("morvane    %-24s backward from the end: found at %zu, median %.6f s\n", pattern,
                at, median(secs));
}

void standard(const std::string& text, const char* label, const char* pattern, int runs) {
    const std::string slice = text.substr(0, std::min<std::size_t>(text.size(), 8u << 20));
    const std::regex re(pattern);
    std::vector<double> secs;
    long long count = 0;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        count = std::distance(std::sregex_iterator(slice.begin(), slice.end(), re),
                              std::sregex_iterator());
        secs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    const double m = median(secs);
    std::printf("std::regex %-24s %9lld matches  median %7.3f s  %7.0f MB/s (first %zu MB)\n",
                label, count, m, double(slice.size()) / m / 1e6, slice.size() >> 20);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string text = buf.str();
    std::replace(text.begin(), text.end(), '\n', '\r');
    std::printf("%s: %.1f MB\n", argv[1], double(text.size()) / 1e6);
    ours(text, "\"free\"\\s*\\(", runs);
    ours(text, "[0-9]+\\.[0-9]+", runs);
    ours(text, "\"printf\"\\s*\\(", runs);
    // As the editor searches a UTF-8 (or ASCII) document: characters, not bytes.
    ours(text, "\"printf\"\\s*\\(", runs, true);
    ours(text, "[0-9]+\\.[0-9]+", runs, true);
    backward(text, "\"printf\"\\s*\\(", runs);
    standard(text, "\"free\"\\s*\\(", "free\\s*\\(", std::min(runs, 3));
    standard(text, "[0-9]+\\.[0-9]+", "[0-9]+\\.[0-9]+", std::min(runs, 3));
    return 0;
}
