// Golden files: each sample under golden/input/<language>/ against its token runs under
// golden/reference/. The test only compares; golden/regenerate.sh rewrites the references with a
// program of its own, for review.
#include "EngineTestUtil.h"
#include "GoldenFiles.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/CompiledBuiltins.h"

#include <gtest/gtest.h>

#include <functional>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
namespace fs = std::filesystem;

namespace {

using EngineFor = std::function<std::unique_ptr<TCodeMemoEngine>(const std::string& language)>;

void CheckSamples(const EngineFor& engineFor) {
    int samples = 0;
    for (const auto& s : golden::samples()) {
        auto engine = engineFor(s.language);
        std::string text = golden::editorText(golden::readFile(s.input));
        ++samples;
        ASSERT_TRUE(fs::exists(s.reference)) << s.reference << " missing: run golden/regenerate.sh";
        EXPECT_EQ(golden::runs(text, HighlightText(*engine, text)), golden::readFile(s.reference))
            << s.input;
    }
    EXPECT_GE(samples, 15);
}

} // namespace

TEST(Golden, EverySampleMatchesItsReference) {
    CheckSamples(builtinEngine);
}

// The forms compiled while the program was built, which the program loads, highlight the same.
TEST(Golden, TheCompiledBuiltInsMatchTheSameReferences) {
    static Highlighters compiled = loadStoredBuiltins(compiledBuiltinForms(), "Software\\T");
    CheckSamples([](const std::string& language) {
        for (auto& p : compiled)
            if (p->languageName() == language) {
                auto e = std::make_unique<TCodeMemoEngine>(p->definition());
                e->OnCustomParse = hlPerlCustomParse;
                return e;
            }
        ADD_FAILURE() << "no compiled " << language;
        return builtinEngine(language);
    });
}
