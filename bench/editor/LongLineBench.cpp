// long_line_bench [benchmark flags]: keystrokes at the end of one line of 64 MB without a line
// break (MORVANE_BENCH_LINE_MB changes the size), with word wrap off and on, highlighted as C++.
// Each keystroke is what the program does for a key: the command, the status bar's line and
// column, a paint of the window and the idle work it leaves. Goal: every keystroke well within a
// frame (16 ms), whatever the line's length.

#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/CompiledBuiltins.h"
#include "gui/editor/CodeMemo.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <memory>
#include <string>

namespace {
using namespace morvane::editor;

std::size_t LineBytes() {
    const char* mb = std::getenv("MORVANE_BENCH_LINE_MB");
    return std::size_t(mb ? std::max(1, std::atoi(mb)) : 64) << 20;
}

morvane::highlight::TCodeMemoParser& Cpp() {
    static auto list = morvane::highlight::loadStoredBuiltins(
        morvane::highlight::compiledBuiltinForms(), "Software\\Bench");
    for (auto& p : list)
        if (p->languageName() == "C++") return *p;
    std::abort();
}

// One memo per wrap setting, loaded once: loading is not what is measured.
struct LongLine {
    TCodeMemo memo;
    QImage image;
    explicit LongLine(bool wrap) {
        std::string text;
        text.reserve(LineBytes());
        while (text.size() < LineBytes())
            text += "lorem ipsum dolor sit amet, consectetur adipiscing elit ";
        memo.SetWordWrap(wrap);
        const int lh = memo.FontMetrics().LineHeight();
        memo.resize(1000, 40 * lh + 40);
        memo.SetClientSize(1000, 40 * lh);
        memo.Lines().SetText(text);
        memo.SetParser(1, &Cpp());
        while (memo.ContinueWrap(100000)) {
        }
        while (memo.ContinueHighlight(100000)) {
        }
        image = QImage(1000, 40 * lh, QImage::Format_RGB32);
    }
    // The command, the status bar's position and a paint of the window.
    void Key(int command) {
        memo.ExecuteCommand(command, 0, false);
        Show();
    }
    void Show() {
        memo.NotifyChange();
        benchmark::DoNotOptimize(memo.CaretPosition());
        QPainter p(&image);
        memo.PaintTo(p, image.rect());
        p.end();
        QApplication::processEvents();
    }
};

LongLine& Memo(bool wrap) {
    static std::unique_ptr<LongLine> memos[2];
    auto& m = memos[wrap];
    if (!m) m = std::make_unique<LongLine>(wrap);
    return *m;
}

// Ctrl+End then Ctrl+Home: the caret crosses the whole line both ways.
void BM_CaretToEndAndBack(benchmark::State& state) {
    LongLine& l = Memo(state.range(0) != 0);
    for (auto _ : state) {
        l.Key(ecDocEnd);
        l.Key(ecDocStart);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_CaretToEndAndBack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Home and End on the last row of the line.
void BM_HomeEndAtLineEnd(benchmark::State& state) {
    LongLine& l = Memo(state.range(0) != 0);
    l.Key(ecDocEnd);
    for (auto _ : state) {
        l.Key(ecLineStart);
        l.Key(ecLineEnd);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_HomeEndAtLineEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A character typed at the line's end, then taken away again with Backspace.
void BM_TypeAtLineEnd(benchmark::State& state) {
    LongLine& l = Memo(state.range(0) != 0);
    l.Key(ecDocEnd);
    for (auto _ : state) {
        l.memo.KeyPress('x');
        l.Show();
        l.Key(ecDeleteLastChar);
    }
    l.memo.UndoStack().Clear();
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_TypeAtLineEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A character typed at the line's start and Ctrl+End: the column at the end is counted afresh
// over the whole line (the worst case of the status bar's column).
void BM_EditAtStartThenCaretToEnd(benchmark::State& state) {
    LongLine& l = Memo(state.range(0) != 0);
    for (auto _ : state) {
        l.Key(ecDocStart);
        l.memo.KeyPress('x');
        l.Show();
        l.Key(ecDocEnd);
        l.Key(ecDocStart);
        l.Key(ecDeleteChar);
    }
    l.memo.UndoStack().Clear();
    state.SetItemsProcessed(state.iterations() * 5);
}
BENCHMARK(BM_EditAtStartThenCaretToEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
