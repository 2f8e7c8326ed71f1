// Random bytes and random edits of real sources through every built-in highlighter: the scan
// ends, every token covers at least one character, the tokens tile the text, and a scan resumed
// from a saved state at any line start gives exactly the values of the full scan.
#include "EngineTestUtil.h"
#include "GoldenFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> samples() {
    std::vector<std::string> out;
    const fs::path root = golden::root();
    for (const auto& e : fs::recursive_directory_iterator(root / "input")) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string s = ss.str();
        for (auto& c : s)
            if (c == '\n') c = '\r';
        out.push_back(s);
    }
    return out;
}

// Pieces that open and close the constructs highlighters get wrong most often.
const char* const kPieces[] = {
    "/*",    "*/",  "//",     "\"", "'",        "`",         "<<\"END\";\r", "<<EOT\r",
    "END\r", "EOT", "<?php ", "?>", "<script>", "</script>", "<!--",         "-->",
    "<",     ">",   "\r",     "\\", "=pod\r",   "=cut\r",    "#include ",    "EXEC SQL ",
    ";",     "$$",  "&amp",   "q(", ")",        "\x00",      "\xff"};

std::string mutate(std::string s, std::mt19937& rng) {
    int edits = 1 + int(rng() % 8);
    for (int i = 0; i < edits; ++i) {
        std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 4) {
        case 0:
            s.insert(at, kPieces[rng() % std::size(kPieces)]);
            break;
        case 1:
            if (at < s.size()) s.erase(at, 1 + rng() % 20);
            break;
        case 2:
            if (at < s.size()) s[at] = char(rng() % 256);
            break;
        default: {
            std::size_t from = s.empty() ? 0 : rng() % s.size();
            s.insert(at, s.substr(from, rng() % 40));
        }
        }
    }
    return s;
}

std::string randomBytes(std::mt19937& rng) {
    std::string s(rng() % 600, '\0');
    for (auto& c : s)
        c = (rng() % 3 == 0) ? "\r <>\"'/*-$#&?;=(){}"[rng() % 19] : char(rng() % 256);
    return s;
}

// Scans text from pos to its end with the engine as it stands, as the editor does; records the
// engine state at every line start reached outside a container re-scan.
void scanFrom(TCodeMemoEngine& e, std::string_view text, std::size_t pos,
              std::vector<std::uint8_t>& values, std::vector<std::optional<TEngineState>>* states) {
    TScanStream s(text, pos);
    std::size_t calls = 0;
    while (!s.atEnd()) {
        std::size_t start = s.position(), length = 0;
        if (states && (start == 0 || text[start - 1] == '\r') && !e.InContainer())
            (*states)[start] = e.SaveState();
        bool wasInside = e.InContainer();
        std::uint8_t t = e.GetToken(s, length);
        ASSERT_GE(length, 1u);
        ASSERT_EQ(s.position(), start + length);
        ASSERT_LE(++calls, 2 * text.size() + 2) << "no progress";
        std::fill(values.begin() + std::ptrdiff_t(start),
                  values.begin() + std::ptrdiff_t(start + length), t);
        if (!wasInside && e.InContainer()) s.setPosition(start);
    }
}

void checkText(TCodeMemoEngine& e, const std::string& text, std::mt19937& rng) {
    std::vector<std::uint8_t> full(text.size());
    std::vector<std::optional<TEngineState>> states(text.size() + 1);
    e.SetContext(0);
    scanFrom(e, text, 0, full, &states);
    EXPECT_EQ(full, HighlightText(e, text));
    // Resume from a few saved line starts.
    for (int k = 0; k < 4 && !text.empty(); ++k) {
        std::size_t at = rng() % text.size();
        while (at > 0 && !states[at])
            --at;
        if (!states[at]) continue;
        std::vector<std::uint8_t> part(full.begin(), full.begin() + std::ptrdiff_t(at));
        part.resize(text.size());
        e.RestoreState(*states[at]);
        scanFrom(e, text, at, part, nullptr);
        ASSERT_EQ(part, full) << "resumed at " << at;
    }
    // Any context, any start: the scan still ends and tiles the text.
    e.SetContext(std::uint8_t(rng()));
    std::vector<std::uint8_t> any(text.size());
    scanFrom(e, text, text.empty() ? 0 : rng() % text.size(), any, nullptr);
}

} // namespace

class EngineRobustness : public ::testing::TestWithParam<std::string> {};

TEST_P(EngineRobustness, RandomTextsAndEditsOfRealSources) {
    auto engine = builtinEngine(GetParam());
    std::mt19937 rng(20240601);
    auto base = samples();
    for (int i = 0; i < 1000; ++i) {
        std::string text = (i % 3 == 0) ? randomBytes(rng) : mutate(base[rng() % base.size()], rng);
        checkText(*engine, text, rng);
        if (::testing::Test::HasFatalFailure()) {
            ADD_FAILURE() << "text: " << ::testing::PrintToString(text);
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Builtin, EngineRobustness, ::testing::ValuesIn(builtinLanguages()),
                         [](const auto& info) {
                             std::string n;
                             for (char c : info.param)
                                 if (std::isalnum(static_cast<unsigned char>(c))) n += c;
                             return n == "C" ? std::string("Cpp") : n;
                         });
