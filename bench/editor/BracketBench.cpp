// bracket_bench FILE [benchmark flags], or MORVANE_BENCH_FILE=FILE bracket_bench [flags]: what
// finding the partner of the bracket beside the caret costs, as the view does on every
// keystroke and caret move, in a large C file (big.c of gen_data.py).
//   BesideBracket: the caret just after one of 4,096 brackets spread over the file.
//   AnyCaret: 4,096 caret positions spread evenly (most have no bracket beside them).
//   UnbalancedAtStart: a "(" that is never closed, at the start of 8 MB of the file: the
//     search reads up to its bound and gives up (the worst case per keystroke).

#include "core/editor/CustomCodeMemo.h"
#include "core/editor/Streams.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

namespace {
using namespace morvane::editor;

std::string g_file;
constexpr std::size_t kSamples = 4096;

TCustomCodeMemo& Document() {
    static std::unique_ptr<TCustomCodeMemo> memo = [] {
        auto m = std::make_unique<TCustomCodeMemo>();
        m->LoadFromFile(g_file);
        return m;
    }();
    return *memo;
}

std::vector<TextOffset> EvenPositions(const TCustomCodeMemo& m) {
    std::vector<TextOffset> out;
    for (std::size_t i = 0; i < kSamples; ++i)
        out.push_back(static_cast<TextOffset>(m.TextLength() / TextOffset(kSamples)) *
                      TextOffset(i));
    return out;
}

void Run(benchmark::State& state, const TCustomCodeMemo& m, const std::vector<TextOffset>& at) {
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        auto r = m.MatchBracket(at[i]);
        found += r && r->partner >= 0;
        benchmark::DoNotOptimize(r);
        if (++i == at.size()) i = 0;
    }
    state.counters["matched_share"] =
        static_cast<double>(found) /
        static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
}

void BM_BesideBracket(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    std::vector<TextOffset> at;
    for (TextOffset p : EvenPositions(m)) {
        // The first bracket at or after p, within a few lines.
        std::string window = m.RangeText(p, std::min(m.TextLength(), p + 4096), tfStored);
        std::size_t k = window.find_first_of("()[]{}");
        if (k != std::string::npos) at.push_back(p + static_cast<TextOffset>(k) + 1);
    }
    Run(state, m, at);
}
BENCHMARK(BM_BesideBracket)->Unit(benchmark::kMicrosecond);

void BM_AnyCaret(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    Run(state, m, EvenPositions(m));
}
BENCHMARK(BM_AnyCaret)->Unit(benchmark::kMicrosecond);

void BM_UnbalancedAtStart(benchmark::State& state) {
    static std::unique_ptr<TCustomCodeMemo> memo = [] {
        auto m = std::make_unique<TCustomCodeMemo>();
        std::ifstream in(g_file, std::ios::binary);
        std::string text(8 << 20, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
        text.insert(0, "(");
        TFastMemoryStream s(text);
        m->LoadFromStream(s);
        return m;
    }();
    Run(state, *memo, {1});
}
BENCHMARK(BM_UnbalancedAtStart)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && argv[1][0] != '-') {
        g_file = argv[1];
        --argc;
        ++argv;
    } else if (const char* f = std::getenv("MORVANE_BENCH_FILE")) {
        g_file = f;
    }
    if (g_file.empty()) {
        std::cerr << "usage: bracket_bench FILE [benchmark flags]\n";
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
