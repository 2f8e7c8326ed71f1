// How long compiling each built-in highlighter script takes, and all six together.
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/CompiledBuiltins.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

using namespace morvane::highlight;

namespace {

std::string readScript(const char* name) {
    std::ifstream in(std::string(MORVANE_RESOURCES_DIR) + "/highlighters/" + name,
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void CompileScript(benchmark::State& state) {
    const auto& b = builtinHighlighters()[std::size_t(state.range(0))];
    state.SetLabel(b.language);
    const std::string text = readScript(b.script);
    TCodeMemoParser parser;
    for (auto _ : state) {
        parser.compile(text);
        benchmark::DoNotOptimize(parser.definition().keywords.wordCount());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}
BENCHMARK(CompileScript)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);

// What start-up paid before the built-ins came compiled: reading and compiling all six scripts.
void CompileAllBuiltins(benchmark::State& state) {
    for (auto _ : state) {
        auto list = compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\Bench");
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(CompileAllBuiltins)->Unit(benchmark::kMillisecond);

// What start-up pays now: reading the six forms compiled into the program.
void LoadCompiledBuiltins(benchmark::State& state) {
    for (auto _ : state) {
        auto list = loadStoredBuiltins(compiledBuiltinForms(), "Software\\Bench");
        benchmark::DoNotOptimize(list.size());
    }
}
BENCHMARK(LoadCompiledBuiltins)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
