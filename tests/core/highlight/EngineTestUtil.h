#pragma once
// Helpers of the engine tests: compile a script, run it, show the tokens.

#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/CodeMemoEngine.h"
#include "core/highlight/CodeMemoParser.h"
#include "core/highlight/PerlHereDoc.h"

#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvane::highlight::testing {

struct Tok {
    std::size_t offset;
    std::size_t length;
    int value;
    bool operator==(const Tok&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Tok& t) {
        return os << "{" << t.offset << "," << t.length << "," << t.value << "}";
    }
};

// Owns the compiled highlighter and its engine.
struct Compiled {
    explicit Compiled(const std::string& script) { parser.compile(script); }
    TCodeMemoParser parser;
    TCodeMemoEngine& engine = parser.engine();
};

// The tokens GetToken returns from the start of text, one call each.
inline std::vector<Tok> tokensOf(TCodeMemoEngine& e, std::string_view text, std::uint8_t ctx = 0) {
    std::vector<Tok> out;
    e.SetContext(ctx);
    std::size_t pos = 0, len = 0;
    while (pos < text.size()) {
        std::size_t start = pos;
        int v = e.GetToken(text, pos, len);
        out.push_back({start, len, v});
    }
    return out;
}

// Runs of equal token value, as "offset length value" lines.
inline std::string runsOf(const std::vector<std::uint8_t>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size();) {
        std::size_t j = i;
        while (j < values.size() && values[j] == values[i])
            ++j;
        out += std::to_string(i) + " " + std::to_string(j - i) + " " + std::to_string(values[i]) +
               "\n";
        i = j;
    }
    return out;
}

// The built-in highlighters, compiled once.
inline const TCodeMemoParser& builtinParser(const std::string& language) {
    static Highlighters list = compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\T");
    for (const auto& p : list)
        if (p->languageName() == language) return *p;
    throw std::runtime_error("no highlighter " + language);
}

// An engine for a built-in highlighter, with the program's custom routine attached.
inline std::unique_ptr<TCodeMemoEngine> builtinEngine(const std::string& language) {
    auto e = std::make_unique<TCodeMemoEngine>(builtinParser(language).definition());
    e->OnCustomParse = hlPerlCustomParse;
    return e;
}

inline const std::vector<std::string>& builtinLanguages() {
    static const std::vector<std::string> names{
        "HTML",   "C++",   "JavaScript", "Perl", "SQL",      "Plain text", "CSS", "PHP",
        "Python", "Shell", "JSON",       "XML",  "Markdown", "INI",        "YAML"};
    return names;
}

// Pieces random scripts are built from: single specifiers (follow groups, bodies), end
// sequences and keywords.
inline const char* const kRandomSpecs[] = {"'a'", "'[a-z]'",         "'[^x]'", "'\\n'",
                                           "''",  "'[\\x00-\\xff]'", "'\"'",   "'[0-9]'"};
inline const char* const kRandomEnds[] = {"'*/'",  "'-->'",  "'ab'",
                                          "'\\n'", "'[^a]'", "'a[b-c]\\n>'"};
inline const char* const kRandomWords[] = {"'a'", "'ab'", "'<'",  "'/*'", "'\"'",
                                           "'x'", "'if'", "'<<'", "'>'"};

template <std::size_t N> std::string pick(std::mt19937& rng, const char* const (&from)[N]) {
    return from[rng() % N];
}

} // namespace morvane::highlight::testing
