#pragma once
// TSYM_Compiler: the lexer of highlighter scripts, with a small C-like preprocessor (#define,
// #ifdef, #ifndef, #else, #endif, #include), comments, macros, quoted strings, numbers and the
// table of script keywords. Scripts are user input: every limit below keeps a hostile script
// from hanging or exhausting memory.

#include "core/highlight/WordStore.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace morvane::highlight {

class ESYM_COMP_ERROR : public std::runtime_error {
public:
    ESYM_COMP_ERROR(int line, int column, const std::string& text);
    int line;
    int column;
    std::string text; // the message without position
};

enum SymToken : std::int32_t {
    symEnd = 0,
    symString,
    symNumber,
    // sections
    kwLanguage,
    kwWords,
    kwKwTables,
    kwHandlers,
    kwTokens,
    kwMap,
    kwEffects,
    kwStates,
    kwContainers,
    kwKeys,
    kwAutoReplace,
    kwTemplates,
    // language keys
    kwName,
    kwCase,
    kwOptions,
    kwExampleText,
    kwEditableStyles,
    kwWordWrapColumn,
    kwGutter,
    kwAnchor,
    kwIndentStep,
    kwWrapOverride,
    kwStartState,
    kwSelTextColor,
    kwSelTextBack,
    kwRightMargin,
    kwFontName,
    kwFontSize,
    kwFontCharset,
    kwTabColumns,
    kwTabDefault,
    kwContextStates,
    kwBoundStates,
    kwGutterColor,
    kwMarginColor,
    kwMarginWidth,
    kwGutterFontName,
    kwGutterFontSize,
    kwGutterFontColor,
    kwGutterFontStyle,
    // words inside entries
    kwInState,
    kwMatch,
    kwForState,
    kwEndsWith,
    kwIs,
    kwPush,
    kwPop,
    kwShift,
    kwCtrl,
    kwAlt,
    kwActionKeys,
    kwHotkey,
    kwOr,
    // punctuation
    pEqual,
    pLParen,
    pRParen,
    pLBracket,
    pRBracket,
    pComma,
    pPlus,
    pMinus,
    pQuery,
    pBar,
    pStar,
    symTokenCount
};

class TSYM_Compiler {
public:
    // Bounds on what one compilation may do.
    static constexpr std::size_t kMaxExpansions = 1'000'000;
    static constexpr std::size_t kMaxExpandedBytes = 32u << 20;
    static constexpr std::size_t kMaxIncludeDepth = 16;
    static constexpr std::uintmax_t kMaxIncludeSize = 16u << 20;

    TSYM_Compiler(std::string text, std::filesystem::path includeDir);

    SymToken next();
    SymToken token() const { return token_; }
    std::uint32_t number() const { return number_; }
    // The last string with escapes applied, and as written (escapes kept).
    std::string stringValue() const;
    const std::string& rawString() const { return raw_; }

    int line() const;
    int column() const;
    [[noreturn]] void error(const std::string& message) const;

    // Escapes of strings: \b \e \n(13) \r(10) \s \t \x.. and octal; "\c" is c.
    static std::string processEscapes(std::string_view raw);
    static const char* tokenName(SymToken t);

private:
    struct Source {
        std::string name; // macro name lower-cased, or "-file-: " + path
        std::shared_ptr<const std::string> text;
        std::size_t pos = 0;
        bool isFile = false;
        std::filesystem::path folder; // of a file: where its relative "..." includes are found
        int line = 1;
        int col = 1;
    };

    Source& top() { return sources_.back(); }
    int peek(std::size_t ahead = 0) const; // -1 past the current source's end
    void advance();
    void newLine();
    bool popExhausted();
    void pushSource(Source s);

    void skipBlockComment();
    void skipLineComment();
    void skipString();
    bool directive(); // false when the '#' starts no directive
    std::string readName();
    void skipBlanks();
    std::string restOfLine();
    void doDefine();
    void doIfdef(bool wantDefined);
    void doInclude();
    void lexString();
    bool lexKeyword();

    std::vector<Source> sources_;
    std::unordered_map<std::string, int> active_; // names of the sources on the stack
    std::filesystem::path includeDir_;
    TWordStore keywords_;
    TWordStore macroNames_;
    std::vector<std::shared_ptr<const std::string>> macroValues_;
    std::vector<bool> conditions_; // skipping state saved by each #ifdef level
    bool skipping_ = false;
    std::size_t expansions_ = 0;
    std::size_t expandedBytes_ = 0;
    std::size_t includeDepth_ = 0;

    SymToken token_ = symEnd;
    std::uint32_t number_ = 0;
    std::string raw_;

    friend void definePredefinedMacros(TSYM_Compiler&);
    void define(std::string_view name, std::string value);
};

} // namespace morvane::highlight
