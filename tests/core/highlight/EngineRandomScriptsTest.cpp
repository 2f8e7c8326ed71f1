// Random small scripts (rules that accept nothing, custom routines that move anywhere, pushes and
// pops, containers) over random texts: every scan ends and its tokens tile the text.
#include "EngineTestUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;

namespace {

std::string randomScript(std::mt19937& rng) {
    auto specifier = [&] { return pick(rng, kRandomSpecs); };
    auto state = [&] { return std::to_string(rng() % 4); };
    auto body = [&]() -> std::string {
        switch (rng() % 3) {
        case 0:
            return "match (" + std::to_string(rng() % 4) + ")";
        case 1:
            return std::to_string(6 + rng() % 16);
        default:
            return specifier();
        }
    };
    std::string s = "%%language startstate = [" + state() + "]\n%%words\n";
    for (int i = 0, n = 1 + int(rng() % 6); i < n; ++i)
        s += pick(rng, kRandomWords) + " " + specifier() + " " + std::to_string(1 + rng() % 8) +
             " [" + state() + " " + state() + "]\n";
    s += "%%handlers\n";
    for (int v = 1; v <= 8; ++v) {
        if (rng() % 2) continue;
        std::string b = body();
        s += std::to_string(v) + " " + b;
        if (b.rfind("match", 0) != 0 && rng() % 2)
            s += std::string(rng() % 2 ? " ?" : "") + " " +
                 (rng() % 3   ? pick(rng, kRandomEnds)
                  : rng() % 2 ? "match (" + std::to_string(rng() % 4) + ")"
                              : std::to_string(6 + rng() % 16)) +
                 " " + std::to_string(rng() % 2);
        s += "\n";
    }
    s += "%%tokens\n";
    for (int i = 0, n = int(rng() % 4); i < n; ++i)
        s += std::to_string(9 + i) + " " + std::to_string(10 + rng() % 11) + "\n";
    s += "InState " + state() + " ( 13 '[a-z]' " + body() + " ? " + pick(rng, kRandomEnds) +
         " 1 )\n";
    s += "%%states\n";
    for (int v = 1; v <= 8; ++v) {
        if (rng() % 2) continue;
        const char* pp[] = {"", "push ", "pop "};
        s += std::to_string(v) + " " + pp[rng() % 3] + "( +[" + state() + "] -[" + state() + "] )" +
             (rng() % 3 == 0 ? " pop" : "") + "\n";
    }
    s += "%%containers " + std::to_string(9 + rng() % 4) + " ( +[" + state() + "] )\n";
    return s;
}

} // namespace

TEST(EngineRandomScripts, EveryScanEndsAndTilesTheText) {
    std::mt19937 rng(99);
    int compiled = 0;
    for (int i = 0; i < 400; ++i) {
        TCodeMemoParser parser;
        std::string script = randomScript(rng);
        try {
            parser.compile(script);
        } catch (const std::exception&) {
            continue;
        }
        ++compiled;
        TCodeMemoEngine& e = parser.engine();
        // A custom routine that may move anywhere, even backwards or to the end.
        e.OnCustomParse = [&rng](TCodeMemoEngine&, int type, std::uint8_t& token, std::size_t&,
                                 TScanStream& s) {
            switch (rng() % 4) {
            case 0:
                s.setPosition(s.position() + rng() % 5);
                break;
            case 1:
                s.setPosition(s.position() > 3 ? s.position() - 3 : 0);
                break;
            case 2:
                s.setPosition(std::size_t(-1));
                break;
            default:
                break;
            }
            token = std::uint8_t(rng());
            return type != 3;
        };
        for (int k = 0; k < 5; ++k) {
            std::string text(rng() % 200, '\0');
            for (auto& c : text)
                c = "ab<>/*\"-x\r0 if"[rng() % 14];
            e.SetContext(std::uint8_t(rng()));
            TScanStream s(text);
            std::size_t calls = 0;
            while (!s.atEnd()) {
                std::size_t start = s.position(), length = 0;
                bool wasInside = e.InContainer();
                e.GetToken(s, length);
                ASSERT_GE(length, 1u) << script;
                ASSERT_EQ(s.position(), start + length) << script;
                ASSERT_LE(++calls, 2 * text.size()) << script;
                if (!wasInside && e.InContainer()) s.setPosition(start);
            }
        }
    }
    EXPECT_GT(compiled, 100);
}
