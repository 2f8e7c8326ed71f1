// The engine and the plain reading of its algorithm agree on random small scripts (keywords with
// follow groups, handlers, per-state rules, pushes and pops; no custom routines or containers) over
// random texts, ends of the text included.
#include "EngineTestUtil.h"
#include "ReferenceScanner.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;

namespace {
std::vector<std::string> randomScript(std::mt19937& rng) {
    std::vector<std::string> L;
    auto specifier = [&] { return pick(rng, kRandomSpecs); };
    auto state = [&] { return std::to_string(rng() % 4); };
    auto body = [&]() -> std::string {
        switch (rng() % 2) {
        case 0:
            return std::to_string(10 + rng() % 11);
        default:
            return specifier();
        }
    };
    L.push_back("%%language startstate = [" + state() + "]");
    L.push_back("%%words");
    for (int i = 0, n = 1 + int(rng() % 6); i < n; ++i)
        L.push_back(pick(rng, kRandomWords) + " " + specifier() + " " +
                    std::to_string(1 + rng() % 8) + " [" + state() + " " + state() + "]");
    L.push_back("%%handlers");
    for (int v = 1; v <= 8; ++v) {
        if (rng() % 2) continue;
        std::string b = body();
        std::string s = std::to_string(v) + " " + b;
        if (rng() % 2)
            s += std::string(rng() % 2 ? " ?" : "") + " " +
                 (rng() % 3 ? pick(rng, kRandomEnds) : std::to_string(10 + rng() % 11)) + " " +
                 std::to_string(rng() % 2);
        L.push_back(s);
    }
    L.push_back("%%tokens");
    for (int i = 0, n = int(rng() % 4); i < n; ++i)
        L.push_back(std::to_string(9 + i) + " " + std::to_string(10 + rng() % 11));
    L.push_back("InState " + state() + " ( 13 '[a-z]' " + body() + " ? " + pick(rng, kRandomEnds) +
                " 1 )");
    L.push_back("%%states");
    for (int v = 1; v <= 8; ++v) {
        if (rng() % 2) continue;
        const char* pp[] = {"", "push ", "pop "};
        L.push_back(std::to_string(v) + " " + pp[rng() % 3] + "( +[" + state() + "] -[" + state() +
                    "] )" + (rng() % 3 == 0 ? " pop" : ""));
    }
    return L;
}
std::string join(const std::vector<std::string>& L) {
    std::string s;
    for (auto& l : L)
        s += l + "\n";
    return s;
}
} // namespace

TEST(EngineAgreesWithReference, OnRandomScripts) {
    std::mt19937 rng(2024);
    int compiled = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string script = join(randomScript(rng));
        TCodeMemoParser parser;
        try {
            parser.compile(script);
        } catch (const std::exception&) {
            continue;
        }
        ++compiled;
        reference::ReferenceScanner ref(parser.definition());
        for (int k = 0; k < 4; ++k) {
            std::string text(rng() % 40, '\0');
            for (auto& c : text)
                c = "ab<>/*\"-x\r0 if"[rng() % 14];
            ASSERT_EQ(HighlightText(parser.engine(), text), ref.tokens(text))
                << script << ::testing::PrintToString(text);
        }
    }
    EXPECT_GT(compiled, 200);
}
