#include "highlight/ParserDefinition.h"

namespace morvane::highlight {

void TParserDefinition::reset() {
    settings.reset();
    caseFlag = 0;
    anchors = StateSet{0};
    startStates = StateSet{0};
    boundStates = StateSet{};
    context.fill(StateSet{});
    keywords.clear();
    keywords.setCaseSensitive(false);
    globalTable = std::make_unique<TokenTable>();
    stateTables.clear();
    statesWithTables = StateSet{};
    anyStateTables = false;
    handlers.fill(std::nullopt);
    stateRules.fill(std::nullopt);
    groups.clear();
    usesCustomParse = false;
}

void TParserDefinition::completeContext() {
    for (auto& c : context)
        if (c.empty()) c = startStates;
}

const TokenTable* TParserDefinition::stateTable(int state) const {
    auto it = stateTables.find(state);
    return it == stateTables.end() ? nullptr : it->second.get();
}

} // namespace morvane::highlight
