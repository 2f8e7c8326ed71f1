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

// In highlighter list order: HTML, C++, JavaScript, Perl, SQL, plain text.
const std::vector<BuiltinHighlighter>& builtinHighlighters();

using Highlighters = std::vector<std::unique_ptr<TCodeMemoParser>>;

// Compiles the six built-in scripts from resourcesDir/highlighters. Every persisted one gets
// registryKey = settingsRoot + "\\Syntaxhighlight" (settingsRoot such as
// "Software\\Orvandel\\Morvane\\2.1"); SQL gets none. A built-in script that fails to compile is
// a broken installation: the error propagates.
Highlighters compileBuiltinHighlighters(const std::filesystem::path& resourcesDir,
                                        const std::string& settingsRoot);

// The built-ins from their stored forms (compiledBuiltinForms(), in list order), set up as
// compileBuiltinHighlighters sets them up. A form that does not read is a broken installation:
// the error propagates.
Highlighters loadStoredBuiltins(const std::vector<std::string_view>& forms,
                                const std::string& settingsRoot);

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
