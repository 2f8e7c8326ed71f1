// Thousands of random mutations of the built-in scripts: the compiler must fail only with its own
// errors, and quickly.
#include "core/editor/BinaryStream.h"
#include "core/editor/CodeMemoError.h"
#include "core/editor/KeyboardActionContoller.h"
#include "core/editor/Keywords.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/SYM_Compiler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

using namespace morvane;
using namespace morvane::highlight;

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Pieces that steer mutations towards the interesting corners of the language.
const char* const kFragments[] = {
    "%%language",
    "%%words",
    "%%tokens",
    "%%handlers",
    "%%states",
    "%%keys",
    "%%kwtables",
    "%%effects",
    "%%map",
    "%%containers",
    "%%autoreplace",
    "%%templates",
    "InState 3 (",
    "match (2)",
    "#define A A\nA",
    "#define X Y\n#define Y X\nX",
    "#ifdef ver200\n",
    "#else\n",
    "#endif\n",
    "#include <self.stx>\n",
    "'\\",
    "'",
    "[",
    "]",
    "(",
    ")",
    "[^",
    "\\x",
    "'a-\\x00'",
    "push",
    "pop",
    "?",
    "4294967295",
    "((((((((",
    "forstate [1] endswith '' (",
    "ver200",
    "editablestyles ('x', 1)",
    "contextstates = (1 [2])",
    "\xff\xfe\x00",
    "\r\n",
    "/*",
    "*/",
};

std::string mutate(std::string text, std::mt19937& rng) {
    auto pick = [&](std::size_t n) { return n ? std::size_t(rng() % n) : 0; };
    int steps = 1 + int(pick(4));
    for (int i = 0; i < steps; ++i) {
        std::size_t pos = pick(text.size() + 1);
        switch (pick(6)) {
        case 0: // flip a byte
            if (!text.empty()) text[pick(text.size())] = char(rng());
            break;
        case 1: // cut
            text.erase(pos, pick(64));
            break;
        case 2: // insert a fragment
            text.insert(pos, kFragments[pick(std::size(kFragments))]);
            break;
        case 3: // duplicate a slice
            if (!text.empty()) {
                std::size_t from = pick(text.size());
                text.insert(pos, text.substr(from, pick(256)));
            }
            break;
        case 4: // truncate
            text.resize(pos);
            break;
        default: // random bytes
            for (std::size_t n = pick(8); n > 0; --n)
                text.insert(pos, 1, char(rng()));
        }
    }
    return text;
}

} // namespace

TEST(Robustness, MutatedScriptsFailOnlyWithCompilerErrors) {
    const std::filesystem::path dir = std::filesystem::path(MORVANE_RESOURCES_DIR) / "highlighters";
    std::vector<std::string> scripts;
    for (const auto& b : builtinHighlighters())
        scripts.push_back(readFile(dir / b.script));

    std::mt19937 rng(20261208);
    int compiled = 0, failed = 0;
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < 3000; ++i) {
        std::string text = mutate(scripts[std::size_t(i) % scripts.size()], rng);
        TCodeMemoParser parser;
        parser.setScript((dir / "self.stx").string());
        auto start = std::chrono::steady_clock::now();
        try {
            parser.compile(text);
            ++compiled;
        } catch (const ESYM_COMP_ERROR&) {
            ++failed;
        } catch (const editor::ECodeMemo&) {
            ++failed;
        } catch (const editor::EKeywords&) {
            ++failed;
        } catch (const editor::EKeyControllerException&) {
            ++failed;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "unexpected " << typeid(e).name() << ": " << e.what() << "\n"
                          << text.substr(0, 2000);
        }
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    }
    EXPECT_GT(compiled, 100);
    EXPECT_GT(failed, 100);
    // Generous for sanitizer builds; a hang or blow-up would take far longer.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count(), 5000);
}

TEST(Robustness, HostileScripts) {
    auto outcome = [](const std::string& text) {
        TCodeMemoParser p;
        try {
            p.compile(text);
        } catch (const ESYM_COMP_ERROR& e) {
            return std::string(e.text);
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("ok");
    };
    // Binary bytes, NUL included, never cut the text short or pass unnoticed.
    EXPECT_EQ(outcome(std::string("%%language name = 'a\0b'", 23)), "ok");
    EXPECT_EQ(outcome(std::string("\0", 1)), "Unknown character in input stream: #$00");
    // Unterminated constructs at the end of input.
    for (const char* cut : {"'", "/*", "%%language name = '", "%%words 'a' '[", "#ifdef",
                            "#include <", "%%tokens InState 1 (", "%%keys 1 ([ctrl"})
        EXPECT_NE(outcome(cut), "crash") << cut;
    // A long chain of distinct macros, and a huge script of repeated entries.
    std::string chain;
    for (int i = 0; i < 20000; ++i)
        chain += "#define M" + std::to_string(i) + " M" + std::to_string(i + 1) + "\n";
    chain += "#define M20000 7\n%%language options = M0";
    EXPECT_EQ(outcome(chain), "ok");
    std::string many = "%%autoreplace";
    for (int i = 0; i < 50000; ++i)
        many += " 'w" + std::to_string(i) + "' = 'x'";
    EXPECT_EQ(outcome(many), "ok");
    std::string nested(200000, '[');
    EXPECT_NE(outcome("%%language startstate = " + nested), "ok");
}

TEST(Robustness, DamagedStoredValuesFailOnlyWithTheirOwnErrors) {
    TSM_Settings sample;
    for (int s = 0; s < 40; ++s)
        sample.effects[std::size_t(s * 6)].inUse = 1;
    sample.setTabColumnsText("5 9 13");
    const std::string style = sample.styleString();
    const std::string keys = sample.keys.saveToString();
    const std::string positional =
        "Corvix4:1,34,0,1,3,>|:,11,Courier New,10,1,2,6,5 9 13,4,2,0,0,16777215,B;";
    std::mt19937 rng(7);
    for (int i = 0; i < 4000; ++i) {
        std::string text = mutate(i % 3 == 0 ? positional : style, rng);
        TSM_Settings s;
        try {
            s.applyStyleString(text);
        } catch (const editor::ECodeMemo&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << "style string: " << e.what() << "\n" << text;
        }
        std::string bytes = mutate(keys, rng);
        editor::TKeyboardActionContoller map;
        editor::BinaryReader in(bytes);
        try {
            map.loadFromStream(in);
        } catch (const editor::EStreamError&) {
        } catch (const editor::EKeyControllerException&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << "key map: " << e.what();
        }
    }
}
