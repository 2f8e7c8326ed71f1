#include "highlight/CodeMemoParser.h"

#include "editor/CodeMemoError.h"
#include "highlight/SYM_Compiler.h"
#include "highlight/ScriptParser.h"

#include <fstream>
#include <sstream>

namespace morvane::highlight {

using editor::ECodeMemo;

void TCodeMemoParser::compile(std::string_view text) {
    // Also after a failed compilation: the definition is left as far as it was built.
    struct Refresh {
        TCodeMemoEngine& engine;
        ~Refresh() { engine.DefinitionChanged(); }
    } refresh{engine_};
    def_.reset();
    std::filesystem::path dir = std::filesystem::path(script_).parent_path();
    TSYM_Compiler lexer{std::string(text), dir};
    TScriptParser parser(lexer, def_);
    try {
        parser.run();
    } catch (...) {
        lastLine_ = lexer.line();
        lastColumn_ = lexer.column();
        throw;
    }
    lastLine_ = lexer.line();
    lastColumn_ = lexer.column();
}

void TCodeMemoParser::compileFile(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        throw ECodeMemo("Unable to open script file " + file.string());
    auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxScriptSize) throw ECodeMemo("Script file too large: " + file.string());
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ECodeMemo("Unable to open script file " + file.string());
    std::ostringstream text;
    text << in.rdbuf();
    script_ = file.string();
    compile(text.str());
}

} // namespace morvane::highlight
