// key_hook_bench [benchmark flags]: the cost of one typed character (KeyDown, then KeyPress) in
// an editor with no templates and no auto-replace list, and with 1,000 of each loaded. Every
// blank and punctuation key is an end key, so the auto-replace list is searched backwards
// from the caret on each of them; the template hook looks at every key.

#include "core/editor/AutoReplace.h"
#include "core/editor/CodeTemplates.h"
#include "core/editor/CustomCodeMemo.h"
#include "core/editor/KeyStore.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {
using namespace morvane::editor;

constexpr std::string_view kTyped = "lorem ipsum dolor sit amet, consectetur (adipiscing) elit;\n";

// One iteration types the whole line; items are characters, so the per-character time is
// the reciprocal of items_per_second.
void TypeCharacters(benchmark::State& state, TCustomCodeMemo& m) {
    std::int64_t lines = 0;
    for (auto _ : state) {
        for (char c : kTyped) {
            std::uint16_t key = c == '\n' ? std::uint16_t(vkReturn) : keyOfChar(std::uint8_t(c));
            auto shortcut = std::uint16_t(key & 0xFF);
            if (key & 256) shortcut |= kShortcutShift;
            if (!m.KeyDown(shortcut)) m.KeyPress(c == '\n' ? '\r' : c);
        }
        if (++lines % 500 == 0) {
            state.PauseTiming();
            m.SelectAll();
            m.ReplaceSel("");
            m.UndoStack().Clear();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(kTyped.size()));
}

// Both runs build the same lists, so that only attaching them differs (not the heap the
// typing allocates from).
struct Lists {
    TCodeTemplates templates;
    TAutoReplace autoReplace;
    Lists() {
        for (int i = 0; i < 1000; ++i) {
            std::string n = std::to_string(i);
            templates.addTemplate("tpl" + n, "template " + n, "expansion " + n + "\n  |\nend");
            // Names that end like the typed words, so that the backward search walks into the
            // trie.
            if (i % 2)
                autoReplace.addReplacement("xq" + n + "em", "r" + n);
            else
                autoReplace.addReplacement("q" + n + "or", "s" + n);
        }
    }
};

void BM_TypeWithoutAids(benchmark::State& state) {
    Lists lists;
    TCustomCodeMemo m;
    m.SetClientSize(1000, 800);
    TypeCharacters(state, m);
}
BENCHMARK(BM_TypeWithoutAids);

void BM_TypeWith1000TemplatesAnd1000Replacements(benchmark::State& state) {
    Lists lists;
    TCustomCodeMemo m;
    m.SetClientSize(1000, 800);
    m.SetCodeTemplates(&lists.templates);
    m.SetAutoReplace(&lists.autoReplace);
    TypeCharacters(state, m);
}
BENCHMARK(BM_TypeWith1000TemplatesAnd1000Replacements);

} // namespace

BENCHMARK_MAIN();
