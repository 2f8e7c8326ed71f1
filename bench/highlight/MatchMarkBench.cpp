// Marking the matches of a search text in the visible part of a large document after each
// keystroke: morvane_match_mark_bench FILE [benchmark flags] (or MORVANE_BENCH_FILE=FILE).
// Each iteration types one character in the middle of a 60-line window (not timed) and then
// finds the matches that window shows, as the view does when it repaints. The count's idle
// slice (4 MB) is measured beside it.

#include "core/editor/CustomCodeMemo.h"
#include "core/highlight/MatchMarks.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <memory>

namespace {
using namespace morvane;
using editor::RecIndex;
using editor::TCustomCodeMemo;
using editor::TextOffset;

std::string g_file;
constexpr RecIndex kWindowLines = 60;

TCustomCodeMemo& Document() {
    static std::unique_ptr<TCustomCodeMemo> memo = [] {
        auto m = std::make_unique<TCustomCodeMemo>();
        m->LoadFromFile(g_file);
        return m;
    }();
    return *memo;
}

void MarkAfterKeystroke(benchmark::State& state, highlight::TSearchRequest r) {
    TCustomCodeMemo& m = Document();
    highlight::TMatchMarks marks(m);
    marks.SetRequest(r);
    const RecIndex top = m.LineCount() / 2;
    const TextOffset caret = m.Store().Start(top + kWindowLines / 2);
    std::size_t found = 0;
    bool insert = true;
    for (auto _ : state) {
        state.PauseTiming();
        m.SetSelection(caret, insert ? caret : caret + 1);
        m.ReplaceSel(insert ? "x" : "");
        insert = !insert;
        state.ResumeTiming();
        found += marks.Visible(m.Store().Start(top), m.Store().Start(top + kWindowLines)).size();
    }
    state.counters["marks"] = double(found) / double(state.iterations());
}

highlight::TSearchRequest Request(const char* text, bool matchCase, bool regExpr) {
    highlight::TSearchRequest r;
    r.text = text;
    r.matchCase = matchCase;
    r.regExpr = regExpr;
    return r;
}

void BM_MarkWord(benchmark::State& state) {
    MarkAfterKeystroke(state, Request("return", true, false));
}
BENCHMARK(BM_MarkWord)->Unit(benchmark::kMicrosecond);

void BM_MarkWordIgnoringCase(benchmark::State& state) {
    MarkAfterKeystroke(state, Request("Int", false, false));
}
BENCHMARK(BM_MarkWordIgnoringCase)->Unit(benchmark::kMicrosecond);

void BM_MarkRegularExpression(benchmark::State& state) {
    MarkAfterKeystroke(state, Request("[a-z_]+\\(", true, true));
}
BENCHMARK(BM_MarkRegularExpression)->Unit(benchmark::kMicrosecond);

// One idle step of the count.
void BM_CountSlice(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    highlight::TMatchMarks marks(m);
    marks.SetRequest(Request("return", true, false));
    for (auto _ : state)
        if (marks.CountStep(4 * 1024 * 1024)) {
            state.PauseTiming();
            marks.SetRequest(Request("", true, false));
            marks.SetRequest(Request("return", true, false));
            state.ResumeTiming();
        }
}
BENCHMARK(BM_CountSlice)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) g_file = argv[1];
    if (g_file.empty())
        if (const char* env = std::getenv("MORVANE_BENCH_FILE")) g_file = env;
    if (g_file.empty()) {
        std::cerr << "usage: morvane_match_mark_bench FILE [--benchmark_...]\n";
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
