#pragma once
// The highlighters the program carries (compiled from resources/highlighters while it is built,
// or from the scripts themselves) and the user's own "*.stx" scripts.

#include "core/highlight/CodeMemoParser.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::platform {
class Registry;
}

namespace morvane::highlight {

struct BuiltinHighlighter {
    const char* language;  // the highlighter's language name
    const char* script;    // file below <resources>/highlighters
    const char* component; // component name, shown in "Registry interface disabled in: "
    bool persisted;        // keeps its settings under the Syntaxhighlight key
};

// In highlighter list order: HTML, C++, JavaScript, Perl, SQL, plain text, CSS, PHP, Python,
// Shell, JSON, XML, Markdown, INI, YAML.
const std::vector<BuiltinHighlighter>& builtinHighlighters();

using Highlighters = std::vector<std::unique_ptr<TCodeMemoParser>>;

// Told about a built-in highlighter left out, with a message naming its language.
using BuiltinProblem = std::function<void(const std::string& message)>;

// Compiles the built-in scripts from resourcesDir/highlighters. Every persisted one gets
// registryKey = settingsRoot + "\\Syntaxhighlight" (settingsRoot such as
// "Software\\Orvandel\\Morvane\\2.1"); SQL gets none. A script that is missing or fails to
// compile is a broken installation: without onProblem the error propagates; with it that one
// highlighter is left out and reported, and the others still load.
Highlighters compileBuiltinHighlighters(const std::filesystem::path& resourcesDir,
                                        const std::string& settingsRoot,
                                        const BuiltinProblem& onProblem = {});

// The built-ins from their stored forms (compiledBuiltinForms(), in list order), set up as
// compileBuiltinHighlighters sets them up. A form that does not read, or holds another language,
// is handled as a broken script is there. A count of forms that differs from the list's always
// throws: the forms could not be told apart.
Highlighters loadStoredBuiltins(const std::vector<std::string_view>& forms,
                                const std::string& settingsRoot,
                                const BuiltinProblem& onProblem = {});

// Applies the settings stored under the Syntaxhighlight key to the persisted highlighters, as at
// start-up. A damaged stored value keeps that highlighter's compiled settings; the messages of
// such failures are returned for the user.
std::vector<std::string> loadHighlighterSettings(Highlighters& list, platform::Registry& registry);

// Compiles every "*.stx" file of folder (sorted by name). A script that fails is left out and
// reported through onError with its file and message.
Highlighters compileUserScripts(
    const std::filesystem::path& folder,
    const std::function<void(const std::filesystem::path& file, const std::string& message)>&
        onError = {});

} // namespace morvane::highlight
