#include "core/highlight/BuiltinHighlighters.h"

#include "core/editor/CodeMemoError.h"
#include "core/highlight/PerlHereDoc.h"
#include "core/platform/Registry.h"

#include <algorithm>

namespace morvane::highlight {

const std::vector<BuiltinHighlighter>& builtinHighlighters() {
    static const std::vector<BuiltinHighlighter> list{
        {"HTML", "html.stx", "HtmlParser", true},
        {"C++", "cpp.stx", "CppParser", true},
        {"JavaScript", "javascript.stx", "JavaScriptParser", true},
        {"Perl", "perl.stx", "PerlParser", true},
        {"SQL", "sql.stx", "SqlParser", false},
        {"Plain text", "plaintext.stx", "PlainTextParser", true},
        {"CSS", "css.stx", "CssParser", true},
        {"PHP", "php.stx", "PhpParser", true},
        {"Python", "python.stx", "PythonParser", true},
        {"Shell", "shell.stx", "ShellParser", true},
        {"JSON", "json.stx", "JsonParser", true},
        {"XML", "xml.stx", "XmlParser", true},
        {"Markdown", "markdown.stx", "MarkdownParser", true},
        {"INI", "ini.stx", "IniParser", true},
        {"YAML", "yaml.stx", "YamlParser", true},
    };
    return list;
}

namespace {
void SetUpBuiltin(TCodeMemoParser& p, const BuiltinHighlighter& b,
                  const std::string& settingsRoot) {
    if (b.persisted) p.registryKey = settingsRoot + "\\Syntaxhighlight";
    // Here-documents (Perl's, the shell's, PHP's) are read by the program's custom routine.
    const std::string_view language(b.language);
    if (language == "Perl" || language == "Shell" || language == "PHP")
        p.engine().OnCustomParse = hlPerlCustomParse;
}

// Runs load for one built-in; a failure goes to onProblem (the highlighter is left out) or,
// without one, propagates.
template <class Load>
void LoadOne(Highlighters& list, const BuiltinHighlighter& b, const std::string& settingsRoot,
             const BuiltinProblem& onProblem, Load load) {
    auto p = std::make_unique<TCodeMemoParser>(b.component);
    try {
        load(*p);
    } catch (const std::exception& e) {
        if (!onProblem) throw;
        onProblem(std::string("The ") + b.language + " highlighter cannot be loaded: " + e.what());
        return;
    }
    SetUpBuiltin(*p, b, settingsRoot);
    list.push_back(std::move(p));
}
} // namespace

Highlighters compileBuiltinHighlighters(const std::filesystem::path& resourcesDir,
                                        const std::string& settingsRoot,
                                        const BuiltinProblem& onProblem) {
    Highlighters list;
    for (const auto& b : builtinHighlighters())
        LoadOne(list, b, settingsRoot, onProblem, [&](TCodeMemoParser& p) {
            const auto file = resourcesDir / "highlighters" / b.script;
            std::error_code ec;
            // Said plainly: the compiler's own message for a missing file names no language.
            if (!std::filesystem::exists(file, ec))
                throw editor::ECodeMemo("the script " + file.string() + " is missing");
            p.compileFile(file);
        });
    return list;
}

Highlighters loadStoredBuiltins(const std::vector<std::string_view>& forms,
                                const std::string& settingsRoot, const BuiltinProblem& onProblem) {
    const auto& builtins = builtinHighlighters();
    if (forms.size() != builtins.size())
        throw editor::ECodeMemo("The program holds " + std::to_string(forms.size()) + " of the " +
                                std::to_string(builtins.size()) + " built-in highlighters");
    Highlighters list;
    for (std::size_t i = 0; i < forms.size(); ++i)
        LoadOne(list, builtins[i], settingsRoot, onProblem, [&](TCodeMemoParser& p) {
            p.LoadStored(forms[i]);
            if (p.languageName() != builtins[i].language)
                throw editor::ECodeMemo(std::string("its stored form holds ") + p.languageName());
        });
    return list;
}

std::vector<std::string> loadHighlighterSettings(Highlighters& list, platform::Registry& registry) {
    std::vector<std::string> problems;
    for (auto& p : list) {
        if (!p->useRegistry || p->registryKey.empty()) continue;
        try {
            p->loadFromRegistry(registry);
        } catch (const std::exception& e) {
            problems.emplace_back(e.what());
        }
    }
    return problems;
}

Highlighters compileUserScripts(
    const std::filesystem::path& folder,
    const std::function<void(const std::filesystem::path&, const std::string&)>& onError) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const auto& path = it->path();
        std::string ext = path.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (ext == ".stx" && it->is_regular_file(ec)) files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    Highlighters list;
    for (const auto& file : files) {
        auto p = std::make_unique<TCodeMemoParser>(file.stem().string());
        try {
            p->compileFile(file);
        } catch (const std::exception& e) {
            if (onError) onError(file, e.what());
            continue;
        }
        list.push_back(std::move(p));
    }
    return list;
}

} // namespace morvane::highlight
