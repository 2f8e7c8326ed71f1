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
    };
    return list;
}

namespace {
void SetUpBuiltin(TCodeMemoParser& p, const BuiltinHighlighter& b,
                  const std::string& settingsRoot) {
    if (b.persisted) p.registryKey = settingsRoot + "\\Syntaxhighlight";
    // Perl's here-documents are read by the program's custom routine.
    if (std::string_view(b.language) == "Perl") p.engine().OnCustomParse = hlPerlCustomParse;
}
} // namespace

Highlighters compileBuiltinHighlighters(const std::filesystem::path& resourcesDir,
                                        const std::string& settingsRoot) {
    Highlighters list;
    for (const auto& b : builtinHighlighters()) {
        auto p = std::make_unique<TCodeMemoParser>(b.component);
        p->compileFile(resourcesDir / "highlighters" / b.script);
        SetUpBuiltin(*p, b, settingsRoot);
        list.push_back(std::move(p));
    }
    return list;
}

Highlighters loadStoredBuiltins(const std::vector<std::string_view>& forms,
                                const std::string& settingsRoot) {
    const auto& builtins = builtinHighlighters();
    if (forms.size() != builtins.size())
        throw editor::ECodeMemo("The program holds " + std::to_string(forms.size()) + " of the " +
                                std::to_string(builtins.size()) + " built-in highlighters");
    Highlighters list;
    for (std::size_t i = 0; i < forms.size(); ++i) {
        auto p = std::make_unique<TCodeMemoParser>(builtins[i].component);
        p->LoadStored(forms[i]);
        if (p->languageName() != builtins[i].language)
            throw editor::ECodeMemo(std::string("The built-in highlighter ") +
                                    builtins[i].language + " holds " + p->languageName());
        SetUpBuiltin(*p, builtins[i], settingsRoot);
        list.push_back(std::move(p));
    }
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
