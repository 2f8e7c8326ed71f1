// Re-highlighting after random edits must leave exactly the token bytes of a scan of the whole
// text, for each built-in highlighter: right away for the rows a view shows after catching up
// to them, and everywhere once the pending work is done.

#include "HighlightMemoUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
using morvane::editor::RecIndex;
using morvane::editor::TextOffset;

namespace {

const char* const kSnippets[] = {
    "/*",          "*/",          "//",
    "\"",          "'",           "`",
    "<<EOF\n",     "EOF\n",       "<<'END'\n",
    "END\n",       "<<\"X\" ;\n", "X\n",
    "<script>",    "</script>",   "<script type=\"text/javascript\">",
    "<?php",       "?>",          "<!--",
    "-->",         "<style>",     "</style>",
    "\n",          "\n\n",        "=pod\n",
    "=cut\n",      "#",           "--",
    "{",           "}",           "<",
    ">",           "int ",        "if (a) ",
    "x",           " ",           "\t",
    "$a = 1;",     "@list",       "SELECT * FROM t",
    "EXEC SQL x;", "\\",          "<b>",
    "</b>",        "&amp;",       "0x1F",
    "3.14e+2",     "\"a\\\"b\"",  "/* c */",
    "// line\n",   "q(",          ")",
    "\r",          "-->\n",       "<a href=\"x\">",
    "```\n",       "~~~",         "key: |\n",
    "  - item\n",  "\"\"\"",      "\'\'\'",
    "@media x {",  "a: b;",       "<<-E\n",
    "<<<T\n",      "T;\n",        "[sec]\n",
    "k = v\n",     "\"k\": [",    "*em* ",
};

std::string sampleFor(const std::string& language) {
    static const std::map<std::string, std::string> files{
        {"HTML", "html/page.html"},
        {"C++", "cpp/sample.cpp"},
        {"JavaScript", "javascript/sample.js"},
        {"Perl", "perl/sample.pl"},
        {"SQL", "sql/sample.sql"},
        {"Plain text", "plaintext/notes.txt"},
        {"CSS", "css/sample.css"},
        {"PHP", "php/page.php"},
        {"Python", "python/sample.py"},
        {"Shell", "shell/script.sh"},
        {"JSON", "json/sample.json"},
        {"XML", "xml/sample.xml"},
        {"Markdown", "markdown/readme.md"},
        {"INI", "ini/sample.ini"},
        {"YAML", "yaml/sample.yaml"},
    };
    return readFile(std::string(MORVANE_RESOURCES_DIR) + "/../tests/core/highlight/golden/input/" +
                    files.at(language));
}

// Where two byte lists first differ, with the characters of the text around it.
std::string firstDifference(const std::vector<std::uint8_t>& got,
                            const std::vector<std::uint8_t>& want) {
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i)
        if (got[i] != want[i])
            return ": first difference at offset " + std::to_string(i) + ", " +
                   std::to_string(got[i]) + " instead of " + std::to_string(want[i]);
    return "";
}

class RehighlightRandom : public ::testing::TestWithParam<std::string> {};

void runRandomEdits(const std::string& language, bool tinyWindow) {
    Highlighters list = freshBuiltins();
    HighlightMemo m;
    if (tinyWindow) {
        // A window far smaller than the text: tokens run into its end and are read again,
        // finished text is dropped in front of it, and longer lines are read in windows.
        auto& sizes = m.HighlightDriver().Runner().sizes;
        sizes = {64, 32, 96, 512, 0, 48};
    }
    m.SetClientSize(400, 6 * 17); // a few rows: the record limit is reached often
    std::string sample = sampleFor(language);
    ASSERT_FALSE(sample.empty());
    m.Load(sample);
    m.SetParser(1, &byLanguage(list, language));

    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 rng(seed * 7919u + unsigned(language.size()));
        auto pick = [&](std::size_t n) { return std::size_t(rng() % std::max<std::size_t>(n, 1)); };
        for (int step = 0; step < 120; ++step) {
            TextOffset len = m.TextLength();
            TextOffset at = TextOffset(pick(std::size_t(len) + 1));
            switch (pick(4)) {
            case 0: { // delete a short range
                TextOffset to = std::min(len, at + TextOffset(pick(12)) + 1);
                m.Edit(at, to, "");
                break;
            }
            case 1: { // replace a range with a snippet
                TextOffset to = std::min(len, at + TextOffset(pick(6)));
                m.Edit(at, to, kSnippets[pick(std::size(kSnippets))]);
                break;
            }
            default:
                m.Edit(at, at, kSnippets[pick(std::size(kSnippets))]);
            }
            if (m.TextLength() > 20000) m.Edit(10000, m.TextLength(), "");
            if (m.TextLength() == 0) m.Load(sample);

            const std::string text = m.Text();
            const auto full = fullScan(language, text);
            // What a view shows after an edit: rows around a random top line, caught up first.
            RecIndex top = RecIndex(pick(std::size_t(m.LineCount())));
            RecIndex last = std::min(m.LineCount() - 1, top + 6);
            m.EnsureHighlightedThrough(last);
            auto shown = m.AttrsThrough(last);
            ASSERT_EQ(shown, std::vector<std::uint8_t>(full.begin(), full.begin() + shown.size()))
                << language << " seed " << seed << " step " << step << firstDifference(shown, full);
            // Some idle time now and then.
            if (pick(3) == 0) m.ContinueHighlight(RecIndex(pick(20)) + 1);
            if (step % 10 == 9) {
                for (int i = 0; i < 100000 && m.ContinueHighlight(50); ++i) {
                }
                ASSERT_FALSE(m.HighlightPending());
                ASSERT_EQ(m.Attrs(), full) << language << " seed " << seed << " step " << step
                                           << firstDifference(m.Attrs(), full);
            }
        }
    }
}

TEST_P(RehighlightRandom, MatchesFullScanAfterRandomEdits) {
    runRandomEdits(GetParam(), false);
}

TEST_P(RehighlightRandom, MatchesFullScanWithASmallWindow) {
    runRandomEdits(GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(Builtins, RehighlightRandom, ::testing::ValuesIn(builtinLanguages()),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (auto& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

} // namespace
