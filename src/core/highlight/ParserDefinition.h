#pragma once
// The compiled form of a highlighter script: what the highlighting engine runs.

#include "core/editor/Keywords.h"
#include "core/editor/StateSet.h"
#include "core/highlight/SM_CharGroup.h"
#include "core/highlight/SM_Settings.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace morvane::highlight {

// A body: a character group repeated, or a routine (built-in ScanRoutine number, or the custom
// parse event with its type when isCustom).
struct RuleBody {
    bool optional = false; // '?': the end is tried before the first body character
    std::uint32_t group = 0;
    bool isRoutine = false;
    bool isCustom = false;
    std::int32_t routine = 0;
    bool operator==(const RuleBody&) const = default;
};

// An end: a sequence of one to four groups, or a routine.
struct RuleEnd {
    bool included = false; // the end sequence belongs to the token
    bool isRoutine = false;
    bool isCustom = false;
    std::int32_t routine = 0;
    std::uint8_t count = 0;
    std::array<std::uint32_t, 4> groups{};
    bool has() const { return isRoutine || count > 0; }
    bool operator==(const RuleEnd&) const = default;
};

struct TokenRule {
    std::uint32_t startGroup = 0;
    bool stdStart = false; // the start is a standard token type run by ScanRoutine stdRoutine
    std::int32_t stdRoutine = 0;
    StateSet valid;
    // A rule without a body is its start character alone (body group empty, no end).
    bool hasBody = false;
    RuleBody body;
    RuleEnd end;
    std::uint8_t value = 0;
    bool operator==(const TokenRule&) const = default;
};

struct HandlerRule {
    RuleBody body;
    RuleEnd end;
    bool operator==(const HandlerRule&) const = default;
};

enum PushPopFlags : std::uint8_t {
    ppPushBefore = 1,
    ppPopBefore = 2,
    ppPushAfter = 4,
    ppPopAfter = 8
};

struct TokenStateRule {
    StateSet valid;
    StateSet add;
    StateSet remove;
    bool container = false;
    bool noChange = true;
    std::uint8_t pushPop = 0;
    bool operator==(const TokenStateRule&) const = default;
};

// 256 slots indexed by a token's first character.
using TokenTable = std::array<std::optional<TokenRule>, 256>;

struct TParserDefinition {
    TParserDefinition() { reset(); }
    TParserDefinition(const TParserDefinition&) = delete;
    TParserDefinition& operator=(const TParserDefinition&) = delete;

    void reset();
    // Exchanges the whole definition with other (one just loaded); the settings record keeps
    // its attached editors.
    void takeFrom(TParserDefinition& other);
    // Every still-empty context entry gets the start states.
    void completeContext();
    const TokenTable* stateTable(int state) const;

    TSM_Settings settings;
    std::int32_t caseFlag = 0;
    StateSet anchors; // token values (a 256-bit set like a state set)
    StateSet startStates;
    StateSet boundStates;
    std::array<StateSet, 256> context{};
    editor::TKeywords keywords; // %%Words
    std::unique_ptr<TokenTable> globalTable;
    std::map<int, std::unique_ptr<TokenTable>> stateTables; // InState tables by state
    StateSet statesWithTables;
    bool anyStateTables = false;
    std::array<std::optional<HandlerRule>, 256> handlers{};
    std::array<std::optional<TokenStateRule>, 256> stateRules{};
    TSM_CharGroupManager groups;
    bool usesCustomParse = false;
};

} // namespace morvane::highlight
