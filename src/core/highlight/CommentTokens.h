#pragma once
// The comment tokens of the built-in languages, for Toggle comment. The highlighter scripts
// describe comments only as scanning rules, so the tokens are kept here by language name.

#include "core/editor/CodeMemoTypes.h"

#include <string_view>

namespace morvane::highlight {

// Empty tokens for a language not in the table (plain text, a user's own script).
editor::TCommentTokens commentTokensFor(std::string_view languageName);

} // namespace morvane::highlight
