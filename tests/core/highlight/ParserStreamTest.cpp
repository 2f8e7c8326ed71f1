// The stored form of compiled highlighters: round trips, versions, damage and Assign.
#include "EngineTestUtil.h"
#include "GoldenFiles.h"
#include "core/editor/CodeMemoError.h"
#include "core/highlight/Compressor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace morvane;
using namespace morvane::highlight;
using namespace morvane::highlight::testing;
using editor::ECodeMemo;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A stored form with another version and, for version 50, a settings record without the gutter
// font: built from a version-51 form by rewriting its body.
std::string withVersion(const TCodeMemoParser& p, std::uint16_t version) {
    std::string stored = p.SaveStored();
    std::string body;
    TCompressor().Decompress(std::string_view(stored).substr(6), body);
    if (version == 50) {
        std::string settings51, settings50;
        editor::BinaryWriter w51(settings51), w50(settings50);
        p.settings().writeStream(w51, 51);
        p.settings().writeStream(w50, 50);
        body.replace(0, settings51.size(), settings50);
    }
    std::string out;
    editor::BinaryWriter w(out);
    w.u16(version);
    w.i32(std::int32_t(body.size()));
    TCompressor().Compress(body, out);
    return out;
}

// The stored body without its settings record.
std::string tablesOf(const TCodeMemoParser& p) {
    const std::string stored = p.SaveStored();
    std::string body, settings;
    TCompressor().Decompress(std::string_view(stored).substr(6), body);
    editor::BinaryWriter w(settings);
    p.settings().writeStream(w);
    return body.substr(settings.size());
}

} // namespace

TEST(ParserStream, BuiltinsReadBackHighlightTheGoldenTextsAlike) {
    const fs::path inputs = golden::root() / "input";
    for (const std::string& language : builtinLanguages()) {
        SCOPED_TRACE(language);
        const TCodeMemoParser& original = builtinParser(language);
        const std::string stored = original.SaveStored();
        EXPECT_EQ(stored.substr(0, 2), std::string("\x33\x00", 2));
        EXPECT_EQ(stored.substr(6, 4), "WRZL");
        TCodeMemoParser loaded;
        loaded.LoadStored(stored);
        // The key map may come back in another order; everything after the settings record is
        // byte for byte the same.
        EXPECT_TRUE(loaded.settings().keys == original.settings().keys);
        EXPECT_EQ(tablesOf(loaded), tablesOf(original));
        EXPECT_EQ(loaded.languageName(), language);
        EXPECT_EQ(loaded.settings().gutterFont(), original.settings().gutterFont());
        EXPECT_EQ(loaded.definition().anyStateTables, original.definition().anyStateTables);

        TCodeMemoEngine engine(loaded.definition());
        engine.OnCustomParse = hlPerlCustomParse;
        int samples = 0;
        for (const auto& entry : fs::recursive_directory_iterator(inputs)) {
            if (!entry.is_regular_file()) continue;
            const std::string text = slurp(entry.path());
            EXPECT_EQ(HighlightText(engine, text), HighlightText(*builtinEngine(language), text))
                << entry.path();
            ++samples;
        }
        EXPECT_GT(samples, 0);
    }
}

TEST(ParserStream, VersionFiftyIsReadWithoutGutterFontAndOlderOnesAreRefused) {
    TCodeMemoParser source;
    source.compile("%%language\nname = 'V'\n%%words\n'then' '' 5\n");
    GutterFont font;
    font.name = "Gutter";
    font.size = 14;
    source.settings().setGutterFont(font);

    TCodeMemoParser p("Memo1");
    p.LoadStored(withVersion(source, 50));
    EXPECT_EQ(p.languageName(), "V");
    EXPECT_EQ(p.settings().gutterFont(), GutterFont{});
    EXPECT_TRUE(p.definition().keywords.find("then", StateSet{0}));

    std::string told;
    p.onVersionRefused = [&](TCodeMemoParser&, const std::string& m) { told = m; };
    p.LoadStored(withVersion(source, 49));
    EXPECT_EQ(told.substr(0, 7), "Memo1: ");
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 2);
    EXPECT_NE(told.find("\nExpected version was 51 read version was 49"), std::string::npos);
    EXPECT_EQ(p.languageName(), "<Custom language>");
    EXPECT_TRUE(p.definition().keywords.empty());
}

TEST(ParserStream, DamagedFormsRaiseAndLeaveTheHighlighterAsItWas) {
    const std::string stored = builtinParser("C++").SaveStored();
    TCodeMemoParser p("Memo2");
    p.Assign(&builtinParser("SQL"));
    const std::string before = p.SaveStored();
    const std::string sample =
        golden::editorText(golden::readFile(golden::root() / "input" / "cpp" / "sample.cpp"));
    // A damaged form is either refused, leaving the highlighter as it was, or taken whole: then
    // it is no longer the old highlighter, and it stores, reads back and highlights like any.
    int refused = 0;
    auto loadDamaged = [&](std::string_view damaged) {
        try {
            p.LoadStored(damaged);
        } catch (const ECodeMemo& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, 7), "Memo2: ");
            EXPECT_EQ(p.SaveStored(), before);
            ++refused;
            return;
        }
        const std::string taken = p.SaveStored();
        EXPECT_NE(taken, before);
        TCodeMemoParser again;
        ASSERT_NO_THROW(again.LoadStored(taken));
        EXPECT_TRUE(again.settings().keys == p.settings().keys);
        EXPECT_TRUE(tablesOf(again) == tablesOf(p));
        EXPECT_EQ(HighlightText(p.engine(), sample), HighlightText(again.engine(), sample));
    };
    // Every cut of the header and many of the body.
    for (std::size_t cut = 0; cut < stored.size(); cut += cut < 64 ? 1 : 97) {
        try {
            p.LoadStored(std::string_view(stored).substr(0, cut));
            ADD_FAILURE() << "a cut at " << cut << " was read";
        } catch (const ECodeMemo&) {
        }
        EXPECT_EQ(p.SaveStored(), before);
    }
    // Bodies with counts, lengths and values changed, recompressed so that only the body reader
    // sees them.
    std::string body;
    TCompressor().Decompress(std::string_view(stored).substr(6), body);
    std::mt19937 rng(5);
    for (int round = 0; round < 400; ++round) {
        std::string b = body;
        for (int k = 0; k < 3; ++k)
            b[rng() % b.size()] = char(round % 3 == 0 ? 0xFF : rng());
        if (round % 5 == 0) b.resize(rng() % b.size());
        std::string form;
        editor::BinaryWriter w(form);
        w.u16(51);
        w.i32(std::int32_t(b.size()));
        TCompressor().Compress(b, form);
        loadDamaged(form);
        p.Assign(&builtinParser("SQL")); // a flip may have been harmless
    }
    // A good share of the changes break a count, a length or a value the reader checks.
    EXPECT_GE(refused, 120) << refused << " of 400 damaged bodies refused";
    // A declared body size that differs from the stream's.
    std::string wrongSize = stored;
    wrongSize[2] = char(wrongSize[2] + 1);
    EXPECT_THROW(p.LoadStored(wrongSize), ECodeMemo);
    EXPECT_EQ(p.SaveStored(), before);
}

TEST(ParserStream, AFormDeclaringAHugeBodyIsRefusedBeforeExpanding) {
    TCodeMemoParser p("Memo3");
    p.Assign(&builtinParser("SQL"));
    const std::string before = p.SaveStored();
    // A valid stream whose body is the stored body padded far past any real highlighter.
    std::string body;
    TCompressor().Decompress(std::string_view(before).substr(6), body);
    body.resize(TCompressor::kDefaultMaxExpanded + 1, '\0');
    std::string form;
    editor::BinaryWriter w(form);
    w.u16(51);
    w.i32(std::int32_t(body.size()));
    TCompressor().Compress(body, form);
    try {
        p.LoadStored(form);
        ADD_FAILURE() << "a 16 MB body was read";
    } catch (const ECodeMemo& e) {
        EXPECT_NE(std::string(e.what()).find(compressor_text::kTooLarge), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(p.SaveStored(), before);
}

TEST(ParserStream, AssignCopiesThroughTheStoredForm) {
    TCodeMemoParser target;
    target.Assign(&builtinParser("Perl"));
    EXPECT_EQ(target.languageName(), "Perl");
    EXPECT_EQ(tablesOf(target), tablesOf(builtinParser("Perl")));
    EXPECT_TRUE(target.settings().keys == builtinParser("Perl").settings().keys);
    target.Assign(&target);
    EXPECT_EQ(target.languageName(), "Perl");
    try {
        target.Assign(nullptr);
        FAIL();
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a nil to TCodeMemoParser");
    }
}
