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

// A compiled form that does not read, or holds another language, costs only its own highlighter.
TEST(Golden, ADamagedCompiledFormLeavesTheOthersLoaded) {
    std::vector<std::string_view> forms = compiledBuiltinForms();
    const auto& builtins = builtinHighlighters();
    auto at = [&](std::string_view language) {
        for (std::size_t i = 0; i < builtins.size(); ++i)
            if (builtins[i].language == language) return i;
        ADD_FAILURE() << language;
        return std::size_t(0);
    };
    const std::string cut(forms[at("CSS")].substr(0, forms[at("CSS")].size() / 2));
    forms[at("CSS")] = cut;
    forms[at("Markdown")] = forms[at("JSON")];

    std::vector<std::string> problems;
    Highlighters list = loadStoredBuiltins(forms, "Software\\T",
                                           [&](const std::string& m) { problems.push_back(m); });
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].rfind("The CSS highlighter cannot be loaded: ", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1], "The Markdown highlighter cannot be loaded: its stored form holds JSON");
    ASSERT_EQ(list.size(), builtins.size() - 2);
    for (const auto& p : list) {
        EXPECT_NE(p->languageName(), "CSS");
        EXPECT_NE(p->languageName(), "Markdown");
    }
    EXPECT_ANY_THROW(loadStoredBuiltins(forms, "Software\\T"));
}
