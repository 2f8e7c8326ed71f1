#pragma once
// A plain reading of the engine's token algorithm, for tests only: it runs a compiled definition
// over a text (line ends are CR) so that the built-in scripts can be checked for the colours they
// produce. Includes the here-document routines the program attaches to the Perl highlighter.

#include "core/highlight/ParserDefinition.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::highlight::reference {

class ReferenceScanner {
public:
    explicit ReferenceScanner(const TParserDefinition& def);

    // Token value of every character, scanning from the start states.
    std::vector<std::uint8_t> tokens(std::string_view text);
    // Style number of every character.
    std::vector<std::uint8_t> styles(std::string_view text);

private:
    int ch() const { return pos_ < text_.size() ? std::uint8_t(text_[pos_]) : -1; }
    bool atEnd() const { return pos_ >= text_.size(); }
    void advance() {
        if (!atEnd()) ++pos_;
    }
    void select();
    bool inGroup(std::uint32_t group, int c) const;
    bool scan(int routine);
    bool custom(int type, std::uint8_t& token);
    bool endMatches(const RuleEnd& end, std::uint8_t& token);
    bool body(const RuleBody& b, std::uint8_t& token);
    std::uint8_t next();
    void pop();

    // A keyword table read out word by word, matched here by plain comparison rather than by the
    // table's own lookup, so that a fault there shows as a disagreement.
    struct Words {
        bool caseSensitive = false;
        std::vector<std::pair<std::string, editor::KeywordEntry>> list;
    };
    struct KeywordHit {
        std::size_t length = 0;
        std::uint8_t token = 0;
    };
    static Words wordsOf(const editor::TKeywords& table);
    std::optional<KeywordHit> keyword(const Words& words, const TSM_CharGroupManager& groups) const;

    const TParserDefinition& def_;
    Words keywords_;
    Words extraKeywords_;
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t start_ = 0;
    StateSet cur_;
    std::vector<StateSet> stack_;
    const TokenTable* table_ = nullptr;
    std::string terminator_;
};

} // namespace morvane::highlight::reference
