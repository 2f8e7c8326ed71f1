// Golden files: each sample under golden/input/<language>/ against its token runs under
// golden/reference/. MORVANE_REGENERATE_GOLDEN=1 (golden/regenerate.sh) rewrites the references
// for review instead of comparing.
#include "EngineTestUtil.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/CompiledBuiltins.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

using namespace morvane::highlight;
using namespace morvane::highlight::testing;
namespace fs = std::filesystem;

namespace {

const fs::path kGolden = fs::path(MORVANE_RESOURCES_DIR) / ".." / "tests" / "highlight" / "golden";

const std::map<std::string, std::string> kFolders{
    {"html", "HTML"}, {"cpp", "C++"}, {"javascript", "JavaScript"},
    {"perl", "Perl"}, {"sql", "SQL"}, {"plaintext", "Plain text"}};

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// As the editor stores it: every line break one CR.
std::string editorText(const std::string& file) {
    std::string out;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
        out += file[i] == '\n' ? '\r' : file[i];
    }
    return out;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else
            out += char(c);
    }
    return out + "\"";
}

// One line per run of equal token value: offset, length, value and the text for review.
std::string reference(const std::string& text, const std::vector<std::uint8_t>& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size();) {
        std::size_t j = i;
        while (j < v.size() && v[j] == v[i])
            ++j;
        out += std::to_string(i) + " " + std::to_string(j - i) + " " + std::to_string(v[i]) + " " +
               quoted(std::string_view(text).substr(i, j - i)) + "\n";
        i = j;
    }
    return out;
}

} // namespace

using EngineFor = std::function<std::unique_ptr<TCodeMemoEngine>(const std::string& language)>;

void CheckSamples(const EngineFor& engineFor, bool regenerate) {
    int samples = 0;
    for (const auto& [folder, language] : kFolders) {
        auto engine = engineFor(language);
        for (const auto& entry : fs::directory_iterator(kGolden / "input" / folder)) {
            std::string text = editorText(readFile(entry.path()));
            std::string got = reference(text, HighlightText(*engine, text));
            fs::path ref =
                kGolden / "reference" / folder / (entry.path().filename().string() + ".tokens");
            ++samples;
            if (regenerate) {
                fs::create_directories(ref.parent_path());
                std::ofstream(ref, std::ios::binary) << got;
                continue;
            }
            ASSERT_TRUE(fs::exists(ref)) << ref << " missing: run golden/regenerate.sh";
            EXPECT_EQ(got, readFile(ref)) << entry.path();
        }
    }
    EXPECT_GE(samples, 6);
}

TEST(Golden, EverySampleMatchesItsReference) {
    CheckSamples(builtinEngine, std::getenv("MORVANE_REGENERATE_GOLDEN") != nullptr);
}

// The forms compiled while the program was built, which the program loads, highlight the same.
TEST(Golden, TheCompiledBuiltInsMatchTheSameReferences) {
    static Highlighters compiled = loadStoredBuiltins(compiledBuiltinForms(), "Software\\T");
    CheckSamples(
        [](const std::string& language) {
            for (auto& p : compiled)
                if (p->languageName() == language) {
                    auto e = std::make_unique<TCodeMemoEngine>(p->definition());
                    e->OnCustomParse = hlPerlCustomParse;
                    return e;
                }
            ADD_FAILURE() << "no compiled " << language;
            return builtinEngine(language);
        },
        false);
}
