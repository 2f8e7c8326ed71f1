// The %%Map, %%Effects, %%States and %%Containers sections.
#include "core/highlight/ScriptParser.h"

namespace morvane::highlight {

void TScriptParser::map() {
    for (;;) {
        if (at(kwMap)) {
            adv();
            continue;
        }
        if (!atExpression()) return;
        int token = byteValue();
        int style = byteValue();
        def_.settings.tokenStyle[std::size_t(token)] = std::uint8_t(style);
    }
}

void TScriptParser::effects() {
    for (;;) {
        if (at(kwEffects)) {
            adv();
            continue;
        }
        if (!atExpression()) return;
        int style = byteValue();
        StyleEffect& e = def_.settings.effects[std::size_t(style)];
        if (style != 0 && e.inUse) fail("Duplicate %%effect entry");
        StyleEffect effect;
        effect.fontStyle = fontStyleList();
        effect.foreground = std::int32_t(expression());
        if (at(pStar)) {
            effect.foregroundDefault = 1;
            adv();
        }
        effect.background = std::int32_t(expression());
        if (at(pStar)) {
            effect.backgroundDefault = 1;
            adv();
        }
        if (at(symString) && editor::TKeywords::lowered(value()) == "hotspot") {
            effect.hotSpot = 1;
            adv();
        }
        effect.inUse = 1;
        e = effect;
    }
}

void TScriptParser::stateChanges(TokenStateRule& rule) {
    expect(pLParen, "'(' expected");
    while (at(pPlus) || at(pMinus)) {
        bool add = at(pPlus);
        adv();
        StateSet x = setOrNumber();
        (add ? rule.add : rule.remove) |= x;
    }
    expect(pRParen, "')' expected");
    rule.noChange = rule.add.empty() && rule.remove.empty();
}

void TScriptParser::states(bool containers) {
    const SymToken own = containers ? kwContainers : kwStates;
    for (;;) {
        if (at(own)) {
            adv();
            continue;
        }
        if (!atExpression()) return;
        int token = byteValue();
        TokenStateRule& rule = stateRule(token, StateSet{0});
        if (containers) {
            rule.container = true;
            stateChanges(rule);
            continue;
        }
        std::uint8_t flags = 0;
        if (at(kwPush) || at(kwPop)) {
            flags = at(kwPush) ? ppPushBefore : ppPopBefore;
            adv();
        }
        stateChanges(rule);
        if (at(kwPush)) {
            flags = ppPushAfter;
            adv();
        } else if (at(kwPop)) {
            flags = ppPopAfter;
            rule.add = StateSet{};
            rule.remove = StateSet{};
            rule.noChange = true;
            adv();
        }
        rule.pushPop = flags;
    }
}

} // namespace morvane::highlight
