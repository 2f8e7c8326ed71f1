// The keyword and token sections: %%Words, %%KwTables, %%Handlers, %%Tokens.
#include "core/highlight/ScriptParser.h"

namespace morvane::highlight {

void TScriptParser::words() {
    for (;;) {
        if (at(kwWords)) {
            adv();
            continue;
        }
        if (!at(symString)) return;
        std::string word = stringValue();
        std::string follow = rawString();
        int token = byteValue();
        StateSet extra;
        if (at(pLBracket)) extra = bracketSet();
        std::uint32_t group = singleGroup(follow);
        std::int32_t followGroup = def_.groups.get(group).empty() ? -1 : std::int32_t(group);

        StateSet states = extra.empty() ? StateSet{0} : extra;
        def_.keywords.setCaseSensitive(def_.caseFlag != 0);
        if (!word.empty()) {
            if (def_.keywords.find(word, states)) fail("Duplicate entry in %%word table");
            def_.keywords.add(word, std::uint8_t(token), states, followGroup);
        }

        StateSet valid{0};
        valid |= extra;
        stateRule(token, valid);
    }
}

void TScriptParser::kwTables() {
    for (;;) {
        if (at(kwKwTables)) {
            adv();
            continue;
        }
        if (!at(kwForState)) return;
        adv();
        KeywordTable table;
        if (!at(pLBracket)) fail("'[' expected");
        table.states = bracketSet();
        expect(kwEndsWith, "'endswith' expected");
        table.endsWith = rawString();
        if (parseCharSpecifiers(table.endsWith).size() > 1)
            fail("Single character specifier expected");
        table.caseFlag = def_.caseFlag;
        expect(pLParen, "'(' expected");
        while (atExpression()) {
            int token = byteValue();
            expect(kwIs, "'is' expected");
            for (;;) {
                std::string word = stringValue();
                if (!table.caseFlag) word = editor::TKeywords::lowered(word);
                if (!word.empty()) table.words.emplace_back(std::move(word), token);
                if (!at(pComma)) break;
                adv();
            }
        }
        expect(pRParen, "')' expected");
        def_.settings.addKeywordTable(std::move(table));
    }
}

// An end: match ( N ), a string of one to four specifiers, or a built-in routine number;
// then the end-included value.
RuleEnd TScriptParser::ruleEnd() {
    RuleEnd end;
    if (at(kwMatch)) {
        adv();
        expect(pLParen, "'(' expected");
        end.isRoutine = end.isCustom = true;
        end.routine = std::int32_t(expression());
        expect(pRParen, "')' expected");
        def_.usesCustomParse = true;
    } else if (at(symString)) {
        auto groups = parseCharSpecifiers(rawString());
        if (groups.size() > 4) fail("Maximum of 4 character specifier allowed");
        end.count = std::uint8_t(groups.size());
        for (std::size_t i = 0; i < groups.size(); ++i)
            end.groups[i] = def_.groups.add(groups[i]);
    } else if (atExpression()) {
        end.isRoutine = true;
        end.routine = std::int32_t(expression());
    } else {
        fail("Script syntax error");
    }
    end.included = expression() != 0;
    return end;
}

void TScriptParser::handlers() {
    for (;;) {
        if (at(kwHandlers)) {
            adv();
            continue;
        }
        if (!atExpression()) return;
        int token = byteValue();
        if (def_.handlers[std::size_t(token)]) fail("Duplicate entry in %%handler table");
        HandlerRule rule;
        bool custom = false;
        if (at(kwMatch)) {
            adv();
            expect(pLParen, "'(' expected");
            rule.body.isRoutine = rule.body.isCustom = true;
            rule.body.routine = std::int32_t(expression());
            expect(pRParen, "')' expected");
            def_.usesCustomParse = true;
            custom = true;
        } else if (at(symString)) {
            rule.body.group = singleGroup(rawString());
        } else if (atExpression()) {
            rule.body.isRoutine = true;
            rule.body.routine = std::int32_t(expression());
        } else {
            fail("Script syntax error");
        }
        if (at(pQuery)) {
            rule.body.optional = true;
            adv();
        }
        if (!custom && (at(kwMatch) || at(symString))) rule.end = ruleEnd();
        def_.handlers[std::size_t(token)] = rule;
    }
}

void TScriptParser::tokens() {
    for (;;) {
        if (at(kwTokens)) {
            adv();
            continue;
        }
        if (at(kwInState)) {
            adv();
            int state = byteValue();
            def_.statesWithTables.add(state);
            auto& table = def_.stateTables[state];
            if (!table) table = std::make_unique<TokenTable>();
            expect(pLParen, "'(' expected");
            while (atExpression())
                tokenEntry(state, *table);
            expect(pRParen, "')' expected");
            continue;
        }
        if (!atExpression()) return;
        tokenEntry(-1, *def_.globalTable);
    }
}

void TScriptParser::tokenEntry(int state, TokenTable& table) {
    TokenRule rule;
    rule.value = std::uint8_t(byteValue());
    if (at(symString)) {
        rule.startGroup = singleGroup(rawString());
        // A numbered body routine is told from the next entry's token value by what follows it.
        bool numberedBody = at(symNumber) && (peek(1).code == pQuery || peek(1).code == kwMatch);
        if (at(kwMatch)) {
            adv();
            expect(pLParen, "'(' expected");
            rule.hasBody = true;
            rule.body.isRoutine = rule.body.isCustom = true;
            rule.body.routine = std::int32_t(expression());
            expect(pRParen, "')' expected");
            def_.usesCustomParse = true;
        } else if (at(symString) || numberedBody) {
            rule.hasBody = true;
            if (at(symString)) {
                rule.body.group = singleGroup(rawString());
            } else {
                rule.body.isRoutine = true;
                rule.body.routine = std::int32_t(expression());
            }
            if (at(pQuery)) {
                rule.body.optional = true;
                adv();
            }
            rule.end = ruleEnd();
        } else {
            rule.body.group = def_.groups.add(TSM_CharGroup{});
        }
    } else if (atExpression()) {
        int routine = std::int32_t(expression());
        if (routine < 10 || routine > 20) fail("Script syntax error");
        rule.stdStart = true;
        rule.stdRoutine = routine;
        rule.startGroup = stdStartGroup(routine);
        rule.body.group = def_.groups.add(TSM_CharGroup{});
    } else {
        fail("Script syntax error");
    }
    StateSet valid;
    valid.add(state < 0 ? 0 : state);
    if (at(pLBracket)) valid |= bracketSet();
    rule.valid = valid;
    stateRule(rule.value, valid);

    const TSM_CharGroup& start = def_.groups.get(rule.startGroup);
    for (int c = 0; c < 256; ++c) {
        if (!start.contains(std::uint8_t(c))) continue;
        if (table[std::size_t(c)]) fail("Ambigious start set in %%token table");
    }
    for (int c = 0; c < 256; ++c)
        if (start.contains(std::uint8_t(c))) table[std::size_t(c)] = rule;
}

} // namespace morvane::highlight
