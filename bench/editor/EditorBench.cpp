// editor_bench FILE [benchmark flags], or MORVANE_BENCH_FILE=FILE editor_bench [flags].
// Peak memory (maxrss) is reported as a counter; run the load case alone to read it for loading.

#include "core/editor/CodeMemoMessages.h"
#include "core/editor/CustomCodeMemo.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {
using namespace morvane::editor;

std::string g_file;

double PeakMB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// One loaded document shared by the position benchmarks.
TCustomCodeMemo& Document() {
    static std::unique_ptr<TCustomCodeMemo> memo = [] {
        auto m = std::make_unique<TCustomCodeMemo>();
        m->LoadFromFile(g_file);
        m->SetClientSize(1000, 17 * 50);
        return m;
    }();
    return *memo;
}

void BM_Load(benchmark::State& state) {
    for (auto _ : state) {
        TCustomCodeMemo m;
        m.LoadFromFile(g_file);
        benchmark::DoNotOptimize(m.LineCount());
    }
    state.counters["peak_MB"] = PeakMB();
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Save(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    std::string out = "/tmp/editor_bench_save." + std::to_string(getpid());
    for (auto _ : state)
        m.SaveToFile(out);
    unlink(out.c_str());
    state.counters["peak_MB"] = PeakMB();
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Iterations(5);

// The whole text as bytes in each line-end form: what a remote Save uploads.
void BM_WholeText(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    TTextForm form = state.range(0) == 0 ? tfLF : tfCRLF;
    for (auto _ : state)
        benchmark::DoNotOptimize(m.Text(form).size());
}
BENCHMARK(BM_WholeText)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

void GoToLine(benchmark::State& state, double where) {
    TCustomCodeMemo& m = Document();
    RecIndex line = static_cast<RecIndex>(static_cast<double>(m.LineCount()) * where);
    for (auto _ : state) {
        m.GoToPosition(1, 1);
        m.GoToPosition(5, line);
        benchmark::DoNotOptimize(m.TopLine());
    }
}
void BM_GoToLastLine(benchmark::State& state) {
    GoToLine(state, 1.0);
}
void BM_GoToMiddleLine(benchmark::State& state) {
    GoToLine(state, 0.5);
}
BENCHMARK(BM_GoToLastLine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GoToMiddleLine)->Unit(benchmark::kMicrosecond);

void BM_LineIndexOfLastLine(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    auto last = static_cast<std::uintptr_t>(m.LineCount() - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(m.Perform(EM_LINEINDEX, last, 0));
}
BENCHMARK(BM_LineIndexOfLastLine)->Unit(benchmark::kMicrosecond);

void BM_LineFromCharInTheMiddle(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    auto mid = static_cast<std::uintptr_t>(m.TextLength() / 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(m.Perform(EM_LINEFROMCHAR, mid, 0));
}
BENCHMARK(BM_LineFromCharInTheMiddle)->Unit(benchmark::kMicrosecond);

void BM_InsertCharInTheMiddle(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    TextOffset mid = m.TextLength() / 2;
    for (auto _ : state) {
        m.SetSelection(mid, mid);
        m.ReplaceSel("x");
    }
    m.SetModified(false);
}
BENCHMARK(BM_InsertCharInTheMiddle)->Unit(benchmark::kMicrosecond);

void BM_InsertLineBreakInTheMiddle(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    TextOffset mid = m.TextLength() / 2 + 7;
    for (auto _ : state) {
        m.SetSelection(mid, mid);
        m.ReplaceSel("\n");
    }
    m.SetModified(false);
}
BENCHMARK(BM_InsertLineBreakInTheMiddle)->Unit(benchmark::kMicrosecond);

void BM_DeleteCharInTheMiddle(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    TextOffset mid = m.TextLength() / 3;
    for (auto _ : state) {
        m.SetSelection(mid, mid + 1);
        m.ReplaceSel("");
    }
    m.SetModified(false);
}
BENCHMARK(BM_DeleteCharInTheMiddle)->Unit(benchmark::kMicrosecond);

// Typing one character at a time into the middle of a document, as keys arrive: the cost per
// character must not depend on the document's size. The typed text is removed between runs.
void TypeInTheMiddle(benchmark::State& state, TCustomCodeMemo& m) {
    constexpr int kChars = 10000;
    const char* keys = "int x = y + 1;\r";
    for (auto _ : state) {
        state.PauseTiming();
        TextOffset mid = m.TextLength() / 2;
        m.SetSelection(mid, mid);
        state.ResumeTiming();
        for (int i = 0; i < kChars; ++i)
            m.KeyPress(keys[i % 15]);
        state.PauseTiming();
        m.SetSelection(mid, m.Caret());
        m.ReplaceSel("");
        m.SetModified(false);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kChars);
}

void BM_Type10000CharsIntoTheLargeDocument(benchmark::State& state) {
    TypeInTheMiddle(state, Document());
}
BENCHMARK(BM_Type10000CharsIntoTheLargeDocument)->Unit(benchmark::kMillisecond)->Iterations(5);

// Typing characters of two and three bytes (as the desktop's input delivers them).
void BM_Type10000Utf8CharsIntoTheLargeDocument(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    constexpr int kChars = 10000;
    const char32_t keys[] = {U'\u00E9', U'\u65E5', U' ', U'x'};
    for (auto _ : state) {
        state.PauseTiming();
        TextOffset mid = m.CharStartAt(m.TextLength() / 2);
        m.SetSelection(mid, mid);
        state.ResumeTiming();
        for (int i = 0; i < kChars; ++i)
            m.TypeCharacter(keys[i % 4]);
        state.PauseTiming();
        m.SetSelection(mid, m.Caret());
        m.ReplaceSel("");
        m.SetModified(false);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kChars);
}
BENCHMARK(BM_Type10000Utf8CharsIntoTheLargeDocument)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Type10000CharsIntoA1KBDocument(benchmark::State& state) {
    TCustomCodeMemo m;
    m.SetClientSize(1000, 17 * 50);
    m.ReplaceSel(Document().RangeText(0, 1024, tfStored));
    m.SetModified(false);
    TypeInTheMiddle(state, m);
}
BENCHMARK(BM_Type10000CharsIntoA1KBDocument)->Unit(benchmark::kMillisecond)->Iterations(5);

// One undo of a block indent of 100,000 lines in the middle of the document; the redo that
// restores the indent between runs is not timed.
void BM_UndoBlockIndentOf100000Lines(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    RecIndex first = m.LineCount() / 2;
    m.SetSelection(m.LineStart(first), m.LineStart(first + 100000));
    m.ExecuteCommand(ecBlockIndent, 0, false);
    for (auto _ : state) {
        m.Undo();
        state.PauseTiming();
        m.Redo();
        state.ResumeTiming();
    }
    m.Undo();
    m.SetModified(false);
}
BENCHMARK(BM_UndoBlockIndentOf100000Lines)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

// Word wrap switched on and off again over the whole document (every line re-cut twice).
void BM_WordWrapOnAndOff(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    for (auto _ : state) {
        m.SetOptions(m.Options() | smoWordWrap);
        m.SetOptions(m.Options() & ~smoWordWrap);
    }
}
BENCHMARK(BM_WordWrapOnAndOff)->Unit(benchmark::kMillisecond)->Iterations(3);

// A keystroke in the middle of the document with word wrap on.
void BM_InsertCharWithWordWrap(benchmark::State& state) {
    TCustomCodeMemo& m = Document();
    m.SetOptions(m.Options() | smoWordWrap);
    TextOffset mid = m.LineStart(m.LineCount() / 2) + 3;
    for (auto _ : state) {
        m.SetSelection(mid, mid);
        m.ReplaceSel("x");
        m.SetSelection(mid, mid + 1);
        m.ReplaceSel("");
    }
    m.SetOptions(m.Options() & ~smoWordWrap);
}
BENCHMARK(BM_InsertCharWithWordWrap)->Unit(benchmark::kMicrosecond);

namespace {
// A view that re-wraps in idle steps, as the window does; the steps are not run here, so a
// width change costs only what the window waits for.
class IdleWrapView final : public TCodeMemoView {
public:
    void RepaintView() override {}
    void UpdateScrollBars() override {}
    bool DefersWrap() const override { return true; }
};

// A minified script: 20 MB on one line, short tokens and few blanks.
std::string MinifiedLine() {
    static const char* tokens[] = {
        "function(a,b){", "return ", "a+b;", "}", "var ", "x=", "1;", "if(", "y){", "z()", ";",
        "\"s\","};
    std::string line;
    line.reserve(20u << 20);
    unsigned seed = 20240601;
    while (line.size() < (20u << 20)) {
        seed = seed * 1103515245u + 12345u;
        line += tokens[(seed >> 16) % 12];
    }
    line += '\n';
    return line;
}
} // namespace

// A keystroke and its deletion in the middle of a 20 MB one-line file with word wrap on.
void BM_KeystrokeInA20MBLineWithWordWrap(benchmark::State& state) {
    TCustomCodeMemo m;
    m.SetClientSize(1000, 17 * 50);
    m.Lines().SetText(MinifiedLine());
    m.SetOptions(m.Options() | smoWordWrap);
    TextOffset mid = m.TextLength() / 2;
    for (auto _ : state) {
        m.SetSelection(mid, mid);
        m.KeyPress('x');
        m.ExecuteCommand(ecDeleteLastChar, 0, false);
        m.SetModified(false); // keeps the undo log from growing over millions of iterations
    }
    state.counters["records"] = static_cast<double>(m.LineCount());
}
BENCHMARK(BM_KeystrokeInA20MBLineWithWordWrap)->Unit(benchmark::kMicrosecond);

// A width change with word wrap on, in a window that wraps the rest in idle steps: what the
// window waits for before it paints again.
void BM_WidthChangeWithDeferredWrap(benchmark::State& state) {
    TCustomCodeMemo m;
    IdleWrapView view;
    m.SetView(&view);
    m.SetClientSize(1000, 17 * 50);
    m.SetOptions(m.Options() | smoWordWrap);
    m.LoadFromFile(g_file);
    m.SetTopLine(m.LineCount() / 2);
    int width = 1000;
    for (auto _ : state) {
        width = width == 1000 ? 700 : 1000;
        m.SetClientSize(width, 17 * 50);
    }
    m.SetView(nullptr);
}
BENCHMARK(BM_WidthChangeWithDeferredWrap)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) g_file = argv[1];
    if (g_file.empty())
        if (const char* env = std::getenv("MORVANE_BENCH_FILE")) g_file = env;
    if (g_file.empty()) {
        std::cerr << "usage: editor_bench FILE [--benchmark_...] (or set MORVANE_BENCH_FILE)\n";
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
