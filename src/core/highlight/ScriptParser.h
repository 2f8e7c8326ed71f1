#pragma once
// The section parsers behind TCodeMemoParser::compile: recursive descent over the lexer's tokens,
// writing the definition. Internal to the highlight library.

#include "core/highlight/ParserDefinition.h"
#include "core/highlight/SYM_Compiler.h"

#include <deque>
#include <string>

namespace morvane::highlight {

class TScriptParser {
public:
    TScriptParser(TSYM_Compiler& lexer, TParserDefinition& def) : lex_(lexer), def_(def) {}
    void run();

private:
    struct Tok {
        SymToken code = symEnd;
        std::uint32_t number = 0;
        std::string raw;
    };

    // Tokens
    void adv();
    const Tok& peek(std::size_t k); // k-th token after the current one (1 = next)
    SymToken cur() const { return cur_.code; }
    bool at(SymToken t) const { return cur_.code == t; }
    void expect(SymToken t, const char* message);
    [[noreturn]] void fail(const std::string& message) const { lex_.error(message); }
    std::string value() const { return TSYM_Compiler::processEscapes(cur_.raw); }

    // Values
    bool atExpression() const { return at(symNumber) || at(pLParen); }
    std::uint32_t expression();
    std::uint32_t primary(int depth);
    std::uint32_t expression(int depth);
    int rangedExpression(int low, int high);
    int byteValue() { return rangedExpression(0, 255); }
    StateSet bracketSet(); // at '['
    StateSet setOrNumber(bool* single = nullptr);
    std::string stringValue(); // processed
    std::string rawString();
    std::uint32_t singleGroup(const std::string& raw);
    std::uint32_t stdStartGroup(int routine);
    std::uint8_t fontStyleList();
    void colourValue(std::int32_t& colour, std::uint8_t& asDefault);

    // Sections
    void language();
    void languageKey(SymToken key);
    void editableStyles();
    void contextStates();
    void words();
    void kwTables();
    void handlers();
    void tokens();
    void tokenEntry(int state, TokenTable& table);
    RuleEnd ruleEnd();
    void map();
    void effects();
    void states(bool containers);
    void stateChanges(TokenStateRule& rule);
    void keys();
    std::uint16_t keyBinding(std::uint16_t* second);
    void autoReplace();
    void templates();
    TokenStateRule& stateRule(int token, const StateSet& valid);

    TSYM_Compiler& lex_;
    TParserDefinition& def_;
    Tok cur_;
    std::deque<Tok> ahead_;
};

} // namespace morvane::highlight
