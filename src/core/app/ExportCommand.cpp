#include "core/app/ExportCommand.h"

#include "core/app/AppRegistry.h"
#include "core/app/ExtensionTable.h"
#include "core/highlight/BuiltinHighlighters.h"
#include "core/highlight/CompiledBuiltins.h"
#include "core/highlight/HighlightedMemo.h"
#include "core/platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <ostream>
#include <system_error>

namespace morvane::app {

namespace fs = std::filesystem;

namespace {
std::string lower(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The page title is the file's name, not the folder it was exported from.
class ExportMemo : public highlight::THighlightedMemo {
public:
    std::string title;
    editor::TExportLook ExportLook() const override {
        editor::TExportLook look = THighlightedMemo::ExportLook();
        look.title = title;
        return look;
    }
};
} // namespace

bool parseExportArguments(const std::vector<std::string>& args, ExportRequest& request,
                          std::string& error) {
    request = {};
    if (args.empty() || (args[0] != "html" && args[0] != "rtf")) {
        error = "--export needs a format: html or rtf";
        return false;
    }
    request.rtf = args[0] == "rtf";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" || a == "--highlighter") {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            (a == "-o" ? request.output : request.highlighter) = args[++i];
        } else if (request.input.empty() && !a.empty()) {
            request.input = a;
        } else {
            error = "unexpected argument \"" + a + "\"";
            return false;
        }
    }
    if (request.input.empty() || request.output.empty()) {
        error = "--export needs a FILE and -o OUT";
        return false;
    }
    return true;
}

int runExport(const ExportRequest& request, platform::Registry& registry, const fs::path& resources,
              const fs::path& programFolder, std::ostream& err) {
    std::error_code ec;
    // Writing the page over the text it came from would lose the text.
    if (fs::exists(request.output, ec) && fs::equivalent(request.input, request.output, ec)) {
        err << "morvane: " << request.output << " is the file being exported\n";
        return 1;
    }
    try {
        // A built-in that does not load is named; the others still serve.
        highlight::Highlighters list = highlight::loadStoredBuiltins(
            highlight::compiledBuiltinForms(), kPerUserRoot,
            [&err](const std::string& problem) { err << "morvane: " << problem << "\n"; });
        if (registry.keyExists(platform::Hive::CurrentUser,
                               std::string(kPerUserRoot) + "\\Syntaxhighlight"))
            for (const std::string& problem : highlight::loadHighlighterSettings(list, registry))
                err << "morvane: " << problem << "\n";
        for (auto& h : highlight::compileUserScripts(programFolder))
            list.push_back(std::move(h));

        std::string wanted = request.highlighter;
        if (wanted.empty()) {
            ExtensionTable table;
            if (!table.load(programFolder / "filetypes.txt"))
                table.load(resources / "data" / "filetypes.txt");
            // The first line, for a script's "#!" line.
            std::string first(256, '\0');
            std::ifstream in(request.input, std::ios::binary);
            in.read(first.data(), std::streamsize(first.size()));
            first.resize(std::size_t(in.gcount()));
            wanted = table.languageFor(fs::path(request.input).filename().string(), first)
                         .value_or("Plain text");
        }
        auto found = std::find_if(list.begin(), list.end(), [&](const auto& p) {
            return lower(p->languageName()) == lower(wanted);
        });
        if (found == list.end() && !request.highlighter.empty()) {
            err << "morvane: no highlighter is named \"" << request.highlighter << "\"; there are:";
            for (auto& p : list)
                err << " \"" << p->languageName() << "\"";
            err << "\n";
            return 1;
        }
        if (found == list.end())
            found = std::find_if(list.begin(), list.end(),
                                 [](const auto& p) { return p->languageName() == "Plain text"; });

        ExportMemo memo;
        if (found != list.end()) memo.SetParser(1, found->get());
        memo.title = fs::path(request.input).filename().string();
        memo.LoadFromFile(request.input);
        memo.ExportToFile(request.output, request.rtf ? editor::tfRTF : editor::tfHTML);
    } catch (const std::exception& e) {
        err << "morvane: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

} // namespace morvane::app
