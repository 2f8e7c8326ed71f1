#pragma once
// TCodeMemoEngine: runs a compiled highlighter definition over a text, one token at a time.
//
// Contract, which re-highlighting only the changed lines relies on:
// - The engine keeps no per-line data. Everything a token depends on is the text and the engine
//   state (SaveState): equal state plus equal text gives equal tokens, and equal state after each.
// - SetContext(v) turns a token value stored in the text back into a state; the editor calls it
//   at a restart point, with the value stored for the character where scanning restarts. Safe
//   restart points are the characters whose value is in GetAnchorTokens(). Tokens must then be
//   requested in text order; the state carries over from one call to the next.
// - While InBoundStates() is true a construct is still open (a here-document, say): a line whose
//   values did not change must not end re-highlighting.
// - Progress: a call on a stream that is not at its end covers at least one character; no rule
//   loops without consuming, and nothing reads past the end of the text. A text of n characters
//   is scanned by at most n calls (plus the re-scan of container tokens, see InContainer).
// - For any text the engine raises nothing; only an OnCustomParse handler's exception propagates.
//
// One engine serves every editor that uses its highlighter; callers must call SetContext (or
// RestoreState) before each scan, and again after the text changed.

#include "core/highlight/ParserDefinition.h"
#include "core/highlight/RTStack.h"
#include "core/highlight/ScanStream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::highlight {

class TCodeMemoEngine;

// A custom parse routine (`match ( N )` in a script), with N as type. It may advance the stream
// and set token; it returns whether it accepted. length holds the token's length so far: the
// engine measures the token by the stream, so a handler need not keep length up to date.
using TCustomParseEvent = std::function<bool(TCodeMemoEngine& sender, int type, std::uint8_t& token,
                                             std::size_t& length, TScanStream& stream)>;

// Everything the engine carries from one token to the next. containerEnd is a text offset: a
// state saved inside a container holds only while the text before that offset keeps its length.
struct TEngineState {
    StateSet current;
    TRTStack stack;
    StateSet saved; // meaningful only inside a container
    std::size_t containerEnd = 0;
    std::uint8_t containerToken = 0;
    bool inContainer = false;
    std::string customData;
    bool operator==(const TEngineState&) const = default;
};

class TCodeMemoEngine {
public:
    // The definition must outlive the engine. After it is recompiled or its keyword tables
    // change, call DefinitionChanged.
    explicit TCodeMemoEngine(const TParserDefinition& def);
    void DefinitionChanged();

    // Reads one token at the stream's position: returns its value, leaves the stream after it
    // and sets length to the characters covered (0 only at the end of the stream).
    std::uint8_t GetToken(TScanStream& stream, std::size_t& length);
    std::uint8_t GetToken(std::string_view text, std::size_t& pos, std::size_t& length);

    void SetContext(std::uint8_t token);
    const StateSet& GetAnchorTokens() const { return def_.anchors; }
    bool InBoundStates() const { return state_.current.meets(def_.boundStates); }

    // True while the text of a container token is being scanned again. When a call leaves the
    // engine inside a container that it was not inside before, the caller sets the stream back to
    // that token's start and scans its text again, writing the inner tokens over it.
    bool InContainer() const { return state_.inContainer; }
    std::size_t ContainerEnd() const { return state_.containerEnd; }
    std::uint8_t ContainerToken() const { return state_.containerToken; }

    const StateSet& CurrentStates() const { return state_.current; }
    // Characters the token and handler rules of groups have gone through since the engine was
    // made: the work of scanning, which stays near the text's length when no run is scanned
    // again from each of its characters.
    std::uint64_t CharactersScanned() const { return scanned_; }
    TEngineState SaveState() const { return state_; }
    // Whether the engine, outside any container, is in state s as far as the tokens to come
    // depend on it.
    bool SameStateOutside(const TEngineState& s) const {
        return !state_.inContainer && !s.inContainer && state_.current == s.current &&
               state_.customData == s.customData && state_.stack == s.stack;
    }
    void RestoreState(const TEngineState& s);

    // Scratch space of custom parse routines (the here-document terminator); part of the state.
    std::string& customData() { return state_.customData; }

    TCustomParseEvent OnCustomParse;
    bool designing = false; // custom routines refuse while the component is being designed
    // A definition that uses custom routines highlights only with a handler to run them.
    bool CanHighlight() const { return !def_.usesCustomParse || (OnCustomParse && !designing); }

    const TParserDefinition& definition() const { return def_; }

private:
    struct Scan;
    void selectTable();
    void refreshStateTables();
    void pop();
    bool inGroup(std::uint32_t group, int c) const;
    bool runRoutine(bool custom, int number, Scan& sc, std::uint8_t& token);
    bool endMatches(const RuleEnd& end, Scan& sc, std::uint8_t& token);
    bool bodyMatches(const RuleBody& body, Scan& sc, std::uint8_t& token);
    bool continueWithHandler(const HandlerRule& h, Scan& sc, std::uint8_t& token);
    bool groupHandler(const HandlerRule& h, Scan& sc, std::size_t keyword);
    std::uint8_t tokenTableStep(Scan& sc, const TokenRule& r, std::uint8_t token);
    std::uint8_t groupRule(Scan& sc, const TokenRule& r, std::uint8_t token);
    // The states of the words that start with each character: most characters start no word
    // in the current states, and the trie need not be asked.
    using FirstChars = std::array<StateSet, 256>;
    void refreshFirstChars();
    static void collectFirstChars(const editor::TKeywords& table, FirstChars& out);
    template <class Follow>
    bool matchKeyword(const editor::TKeywords& table, const Follow& follow, const FirstChars& first,
                      Scan& sc, std::uint8_t& token);

    const TParserDefinition& def_;
    FirstChars mainFirst_{};
    FirstChars extraFirst_{};
    std::size_t mainWords_ = 0;
    std::size_t extraWords_ = 0;
    TEngineState state_;
    const TokenTable* table_ = nullptr;
    // The token table of each state that has one (else the global table), so that a state
    // change need not search the definition's map.
    std::array<const TokenTable*, 256> stateTables_{};
    // The last token rule and handler that failed: from where (and, for a handler, after how
    // long a keyword), on which text, where they stopped, in which states. Only a shortcut to
    // the same outcome; SetContext and RestoreState forget them.
    struct FailedRule {
        const void* rule = nullptr;
        const char* text = nullptr;
        std::size_t from = 0;
        std::size_t keyword = 0;
        std::size_t at = 0;
        StateSet states;
    };
    FailedRule failed_;
    FailedRule failedHandler_;
    std::uint64_t scanned_ = 0;
};

// The token value of every character of text, scanned from its first character after
// SetContext(context), with containers re-scanned as the editor does.
std::vector<std::uint8_t> HighlightText(TCodeMemoEngine& engine, std::string_view text,
                                        std::uint8_t context = 0);

} // namespace morvane::highlight
