#include "core/highlight/CommentTokens.h"

namespace morvane::highlight {

namespace {
struct Entry {
    std::string_view language, line, open, close;
};
// Line comments where the language has them: they toggle line by line.
constexpr Entry kTable[] = {
    {"C++", "//", "/*", "*/"},  {"JavaScript", "//", "/*", "*/"}, {"JSON", "//", "/*", "*/"},
    {"PHP", "//", "/*", "*/"},  {"CSS", "", "/*", "*/"},          {"HTML", "", "<!--", "-->"},
    {"XML", "", "<!--", "-->"}, {"Markdown", "", "<!--", "-->"},  {"Perl", "#", "", ""},
    {"Python", "#", "", ""},    {"Shell", "#", "", ""},           {"YAML", "#", "", ""},
    {"INI", ";", "", ""},       {"SQL", "--", "/*", "*/"},
};
} // namespace

editor::TCommentTokens commentTokensFor(std::string_view languageName) {
    for (const Entry& e : kTable)
        if (e.language == languageName)
            return {std::string(e.line), std::string(e.open), std::string(e.close)};
    return {};
}

} // namespace morvane::highlight
