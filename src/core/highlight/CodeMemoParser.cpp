#include "core/highlight/CodeMemoParser.h"

#include "core/editor/CodeMemoError.h"
#include "core/highlight/ParserSlots.h"
#include "core/highlight/SYM_Compiler.h"
#include "core/highlight/ScriptParser.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace morvane::highlight {

using editor::ECodeMemo;

TCodeMemoParser::~TCodeMemoParser() {
    // Each editor removes itself from the list while its slots are emptied.
    while (!editors_.empty())
        editors_.back()->ParserDestroyed(this);
}

void TCodeMemoParser::Attach(TParserSlots* editor) {
    if (std::find(editors_.begin(), editors_.end(), editor) == editors_.end())
        editors_.push_back(editor);
}

void TCodeMemoParser::Detach(TParserSlots* editor) {
    std::erase(editors_, editor);
}

void TCodeMemoParser::ReapplyToEditors() {
    for (TParserSlots* e : std::vector<TParserSlots*>(editors_))
        e->ParserChanged(this);
}

void TCodeMemoParser::definitionReplaced() {
    def_.settings.markColoursShipped();
    engine_.DefinitionChanged();
    states_.Clear();
    ReapplyToEditors();
}

void TCodeMemoParser::compile(std::string_view text) {
    // Also after a failed compilation: the definition is left as far as it was built, and the
    // editors using it follow.
    struct Refresh {
        TCodeMemoParser& parser;
        ~Refresh() {
            parser.def_.settings.markColoursShipped();
            parser.engine_.DefinitionChanged();
            parser.states_.Clear();
            try {
                parser.ReapplyToEditors();
            } catch (...) {
                // Also runs while a compile error unwinds; the editors keep what they show.
            }
        }
    } refresh{*this};
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
