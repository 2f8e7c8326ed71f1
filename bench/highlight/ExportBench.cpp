// Formatted export of a whole document: the HTML and RTF writers over a highlighted text, and
// the whole road from unhighlighted text (highlighting included), as a one-off export runs it.
//
//   morvane_export_bench HTML_FILE CPP_FILE [benchmark flags]
//
// The inputs come from gen_data.py (page10.html, src10.cpp).

#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/HighlightedMemo.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <map>
#include <memory>

using namespace morvane;
using namespace morvane::highlight;

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

// Takes everything and keeps only the count, so that the writer alone is timed.
class NullStream final : public editor::TStream {
public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void*, std::size_t count) override {
        written += count;
        return count;
    }
    std::int64_t Seek(std::int64_t, editor::TSeekOrigin) override { return 0; }
    std::size_t written = 0;
};

std::unique_ptr<THighlightedMemo> Loaded(const std::string& language) {
    auto m = std::make_unique<THighlightedMemo>();
    m->LoadFromFile(g_files.at(language));
    m->SetParser(1, &ByLanguage(language));
    m->SetSelection(-1, 0);
    return m;
}

void Forget(THighlightedMemo& m) {
    auto& store = m.Store();
    store.DropAllAttrs();
    for (auto c = store.CursorAt(0); !store.AtEnd(c); store.Next(c))
        store.Rec(c).flags = TEngineStateTable::WithId(store.Rec(c).flags, 0);
    m.HighlightDriver().StartOver();
}

void Writer(benchmark::State& state, const std::string& language, editor::TTextForm form) {
    auto m = Loaded(language);
    m->HighlightAll();
    std::size_t out = 0;
    for (auto _ : state) {
        NullStream s;
        m->WriteSelection(s, form);
        out = s.written;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * m->TextLength());
    state.counters["out_MB"] = double(out) / 1e6;
}

void Whole(benchmark::State& state, const std::string& language, editor::TTextForm form) {
    auto m = Loaded(language);
    for (auto _ : state) {
        state.PauseTiming();
        Forget(*m);
        state.ResumeTiming();
        NullStream s;
        m->WriteSelection(s, form);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * m->TextLength());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: morvane_export_bench HTML_FILE CPP_FILE [benchmark flags]\n";
        return 2;
    }
    g_files["HTML"] = argv[1];
    g_files["C++"] = argv[2];
    for (const char* language : {"HTML", "C++"}) {
        std::string l = language;
        benchmark::RegisterBenchmark(("HtmlWriter/" + l).c_str(), Writer, l, editor::tfHTML)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("RtfWriter/" + l).c_str(), Writer, l, editor::tfRTF)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("HtmlWithHighlighting/" + l).c_str(), Whole, l,
                                     editor::tfHTML)
            ->Unit(benchmark::kMillisecond);
    }
    argv[2] = argv[0];
    argc -= 2;
    argv += 2;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
