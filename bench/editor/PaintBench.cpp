// paint_bench [benchmark flags]: painting a full editor window of 60 rows into an offscreen
// image, with token colours, line numbers and a selection. Goal: median below 8 ms.

#include "gui/editor/CodeMemo.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <memory>

namespace {
using namespace morvane::editor;
namespace highlight = morvane::highlight;

// A C-like line with a token value every few characters, as a highlighter would leave it.
void Fill(TCodeMemo& memo, int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "    if (value_" + std::to_string(i) +
                " > 42) { result += compute(\"text\", 3.14); } // comment " + std::to_string(i) +
                "\n";
    memo.Lines().SetText(text);
    auto& s = memo.Settings();
    for (int style = 1; style < 6; ++style) {
        highlight::StyleEffect e;
        e.foreground = 0x400000 * style + 0x40 * style;
        e.background = style == 4 ? 0xE0F0FF : 0xFFFFFF;
        e.fontStyle = static_cast<std::uint8_t>(style == 1   ? highlight::fsBoldBit
                                                : style == 5 ? highlight::fsItalicBit
                                                             : 0);
        s.setEffect(style, e);
        s.setStyleOfToken(style, static_cast<std::uint8_t>(style));
    }
    for (RecIndex r = 0; r < memo.LineCount(); ++r) {
        std::size_t n = memo.Store().Text(r).size();
        std::vector<std::uint8_t> tokens(n);
        for (std::size_t i = 0; i < n; ++i)
            tokens[i] = static_cast<std::uint8_t>(1 + (i / 6) % 5);
        memo.Store().SetAttrs(r, tokens.data());
    }
}

void BM_PaintFullWindow(benchmark::State& state) {
    TCodeMemo memo;
    Fill(memo, 2000);
    memo.SetOptions(memo.Options() | smoLineNumbers);
    const int lh = memo.FontMetrics().LineHeight();
    memo.resize(1000, 60 * lh + 40);
    memo.SetClientSize(1000, 60 * lh);
    memo.SetTopLine(500);
    memo.HideSelection = false;
    memo.SetSelection(memo.LineStart(510) + 5, memo.LineStart(520) + 9);
    QImage image(1000, 60 * lh, QImage::Format_RGB32);
    state.counters["rows"] = static_cast<double>(memo.LayoutRows().size());
    for (auto _ : state) {
        QPainter p(&image);
        memo.PaintTo(p, image.rect());
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PaintFullWindow)->Unit(benchmark::kMillisecond);

// The same window of UTF-8 text: accented letters, Cyrillic, CJK across two cells, emoji.
void BM_PaintFullWindowUtf8(benchmark::State& state) {
    TCodeMemo memo;
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "    caf\xC3\xA9 na\xC3\xAFve \xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 "
                "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E value_" +
                std::to_string(i) +
                " \xE2\x80\x94 \xF0\x9F\x98\x80 \xE2\x82\xAC"
                "5 int x = y + 1;\n";
    memo.Lines().SetText(text);
    memo.SetEncoding(TTextEncoding::teUTF8);
    memo.SetOptions(memo.Options() | smoLineNumbers);
    const int lh = memo.FontMetrics().LineHeight();
    memo.resize(1000, 60 * lh + 40);
    memo.SetClientSize(1000, 60 * lh);
    memo.SetTopLine(500);
    QImage image(1000, 60 * lh, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        memo.PaintTo(p, image.rect());
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PaintFullWindowUtf8)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
