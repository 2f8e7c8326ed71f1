#include "core/highlight/ParserDefinition.h"

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

void TParserDefinition::takeFrom(TParserDefinition& o) {
    using std::swap;
    settings.takeContent(o.settings);
    swap(caseFlag, o.caseFlag);
    swap(anchors, o.anchors);
    swap(startStates, o.startStates);
    swap(boundStates, o.boundStates);
    swap(context, o.context);
    swap(keywords, o.keywords);
    swap(globalTable, o.globalTable);
    swap(stateTables, o.stateTables);
    swap(statesWithTables, o.statesWithTables);
    swap(anyStateTables, o.anyStateTables);
    swap(handlers, o.handlers);
    swap(stateRules, o.stateRules);
    swap(groups, o.groups);
    swap(usesCustomParse, o.usesCustomParse);
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
