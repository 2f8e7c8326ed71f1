// Highlighting through the editor: a whole document, and the re-highlighting after one keystroke.
//
//   morvane_rehighlight_bench HTML_FILE CPP_FILE BIG_C_FILE [benchmark flags]
//
// The inputs come from gen_data.py (page10.html, src10.cpp, big.c). The control shows 60 rows, so
// an edit re-highlights at most 62 records at once; the rest is left pending, as in the program.

#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/HighlightedMemo.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>

using namespace morvane::highlight;
using morvane::editor::RecIndex;
using morvane::editor::TextOffset;

namespace {

std::map<std::string, std::string> g_files; // language -> file

Highlighters& Builtins() {
    static Highlighters list = compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\Bench");
    return list;
}

TCodeMemoParser& ByLanguage(const std::string& language) {
    for (auto& p : Builtins())
        if (p->languageName() == language) return *p;
    throw std::runtime_error("no highlighter " + language);
}

// A control with 60 visible rows holding a file, highlighted with the language's highlighter.
std::unique_ptr<THighlightedMemo> Loaded(const std::string& file, const std::string& language) {
    auto m = std::make_unique<THighlightedMemo>();
    m->SetClientSize(1000, m->FontMetrics().LineHeight() * 60);
    m->LoadFromFile(g_files.at(file));
    m->SetParser(1, &ByLanguage(language));
    return m;
}

// The whole text highlighted from its first character, as after loading.
void FullHighlight(benchmark::State& state, const std::string& language) {
    auto m = Loaded(language, language);
    for (auto _ : state) {
        state.PauseTiming();
        auto& store = m->Store();
        store.DropAllAttrs();
        for (auto c = store.CursorAt(0); !store.AtEnd(c); store.Next(c))
            store.Rec(c).flags = TEngineStateTable::WithId(store.Rec(c).flags, 0);
        m->HighlightDriver().StartOver();
        state.ResumeTiming();
        m->HighlightAll();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * m->TextLength());
}
BENCHMARK_CAPTURE(FullHighlight, html, std::string("HTML"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(FullHighlight, cpp, std::string("C++"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// big.c loaded and highlighted once, shared by the keystroke cases.
THighlightedMemo& Big() {
    static std::unique_ptr<THighlightedMemo> m = [] {
        auto memo = Loaded("big", "C++");
        memo->HighlightAll();
        return memo;
    }();
    return *m;
}

// A line start in the middle of the text: typing there is typing into code.
TextOffset Middle(THighlightedMemo& m) {
    return m.LineStart(m.LineFromOffset(m.TextLength() / 2));
}

// One plain character typed in the middle of 100 MB: the edit and its re-highlighting.
void KeystrokePlain(benchmark::State& state) {
    THighlightedMemo& m = Big();
    const TextOffset at = Middle(m);
    for (auto _ : state) {
        m.SetSelection(at, at, false);
        m.ReplaceSel("x", false);
        state.PauseTiming();
        m.SetSelection(at, at + 1, false);
        m.ReplaceSel("", false);
        m.EnsureHighlightedThrough(m.LineCount());
        state.ResumeTiming();
    }
}
BENCHMARK(KeystrokePlain)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The "*" of "/*" typed in the middle of 100 MB: the comment runs to the end of the text.
void KeystrokeOpensComment(benchmark::State& state) {
    THighlightedMemo& m = Big();
    const TextOffset at = Middle(m);
    int comment = -1;
    for (auto _ : state) {
        state.PauseTiming();
        m.SetSelection(at, at, false);
        m.ReplaceSel("/", false);
        m.EnsureHighlightedThrough(m.LineCount());
        state.ResumeTiming();
        m.SetSelection(at + 1, at + 1, false);
        m.ReplaceSel("*", false);
        state.PauseTiming();
        // The token value now stored for the "/" (the comment's).
        RecIndex rec = m.LineFromOffset(at);
        const std::uint8_t* a = m.Store().Attrs(rec);
        comment = a ? a[at - m.LineStart(rec)] : -1;
        m.SetSelection(at, at + 2, false);
        m.ReplaceSel("", false);
        m.EnsureHighlightedThrough(m.LineCount());
        state.ResumeTiming();
    }
    state.counters["token_at_slash"] = comment;
}
BENCHMARK(KeystrokeOpensComment)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 4) {
        std::cerr << "usage: " << argv[0] << " HTML_FILE CPP_FILE BIG_C_FILE [benchmark flags]\n";
        return 2;
    }
    g_files = {{"HTML", argv[1]}, {"C++", argv[2]}, {"big", argv[3]}};
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
