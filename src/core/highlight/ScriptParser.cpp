#include "core/highlight/ScriptParser.h"

#include "core/editor/CodeMemoError.h"

namespace morvane::highlight {

using editor::ECodeMemo;

namespace {
// Deeper parentheses than this are refused rather than recursed into.
constexpr int kMaxNesting = 256;
} // namespace

void TScriptParser::adv() {
    if (!ahead_.empty()) {
        cur_ = std::move(ahead_.front());
        ahead_.pop_front();
        return;
    }
    cur_.code = lex_.next();
    cur_.number = lex_.number();
    if (cur_.code == symString)
        cur_.raw = lex_.rawString();
    else
        cur_.raw.clear();
}

const TScriptParser::Tok& TScriptParser::peek(std::size_t k) {
    while (ahead_.size() < k) {
        Tok t;
        t.code = cur_.code == symEnd && ahead_.empty() ? symEnd : lex_.next();
        t.number = lex_.number();
        if (t.code == symString) t.raw = lex_.rawString();
        ahead_.push_back(std::move(t));
    }
    return ahead_[k - 1];
}

void TScriptParser::expect(SymToken t, const char* message) {
    if (!at(t)) fail(message);
    adv();
}

std::uint32_t TScriptParser::expression() {
    return expression(0);
}

std::uint32_t TScriptParser::primary(int depth) {
    if (at(symNumber)) {
        std::uint32_t v = cur_.number;
        adv();
        return v;
    }
    if (at(pLParen) && depth < kMaxNesting) {
        adv();
        std::uint32_t v = expression(depth + 1);
        if (!at(pRParen)) fail("Expression expected");
        adv();
        return v;
    }
    fail("Expression expected");
}

// Binary + - and "or", strictly left to right.
std::uint32_t TScriptParser::expression(int depth) {
    std::uint32_t v = primary(depth);
    for (;;) {
        SymToken op = cur();
        if (op != pPlus && op != pMinus && op != kwOr) return v;
        adv();
        std::uint32_t r = primary(depth);
        v = op == pPlus ? v + r : op == pMinus ? v - r : (v | r);
    }
}

int TScriptParser::rangedExpression(int low, int high) {
    auto v = std::int32_t(expression());
    if (v < low || v > high)
        throw ECodeMemo("Range error, value outwith " + std::to_string(low) + " .. " +
                        std::to_string(high));
    return v;
}

StateSet TScriptParser::bracketSet() {
    expect(pLBracket, "'[' expected");
    StateSet set;
    while (atExpression()) {
        set.add(byteValue());
        if (at(pComma)) adv();
    }
    expect(pRBracket, "']' expected");
    return set;
}

StateSet TScriptParser::setOrNumber(bool* single) {
    if (single) *single = !at(pLBracket);
    if (at(pLBracket)) return bracketSet();
    StateSet set;
    set.add(byteValue());
    return set;
}

std::string TScriptParser::stringValue() {
    if (!at(symString)) fail("String value expected");
    std::string v = value();
    adv();
    return v;
}

std::string TScriptParser::rawString() {
    if (!at(symString)) fail("String value expected");
    std::string v = cur_.raw;
    adv();
    return v;
}

// One character specifier; an empty string gives the empty group.
std::uint32_t TScriptParser::singleGroup(const std::string& raw) {
    auto groups = parseCharSpecifiers(raw);
    if (groups.size() > 1) fail("Single character specifier expected");
    return def_.groups.add(groups.empty() ? TSM_CharGroup{} : groups.front());
}

std::uint32_t TScriptParser::stdStartGroup(int routine) {
    TSM_CharGroup g;
    auto range = [&](char a, char b) {
        for (int c = std::uint8_t(a); c <= std::uint8_t(b); ++c)
            g.add(std::uint8_t(c));
    };
    switch (routine) {
    case 10:
        range('A', 'Z'), range('a', 'z'), g.add('_'), range('\x80', '\xff');
        break;
    case 11:
        g.add('.'), range('0', '9');
        break;
    case 12:
    case 14:
    case 20:
        g.add('\'');
        break;
    case 13:
    case 18:
        g.add('"');
        break;
    case 15:
        g.add('+'), g.add('-'), g.add('.'), range('0', '9');
        break;
    case 16:
        range('0', '9');
        break;
    case 17:
        range('0', '9'), range('A', 'Z'), range('a', 'z');
        break;
    case 19:
        g.add('/');
        break;
    default:
        break;
    }
    return def_.groups.add(g);
}

// [ N, ... ]: each value 0..7 sets that style bit; larger values are ignored.
std::uint8_t TScriptParser::fontStyleList() {
    expect(pLBracket, "'[' expected");
    std::uint8_t bits = 0;
    while (!at(pRBracket)) {
        if (at(symEnd) || (cur() >= kwLanguage && cur() <= kwTemplates)) fail("']' expected");
        if (!atExpression()) fail("Bad font style specifier");
        std::uint32_t v;
        try {
            v = expression();
        } catch (const ESYM_COMP_ERROR&) {
            fail("Bad font style specifier");
        }
        if (v < 8) bits |= std::uint8_t(1u << v);
        if (at(pComma)) adv();
    }
    adv();
    return bits;
}

// An optional [*] (the colour is the default one) followed by the colour.
void TScriptParser::colourValue(std::int32_t& colour, std::uint8_t& asDefault) {
    if (at(pLBracket)) {
        adv();
        asDefault = 0;
        if (at(pStar)) {
            asDefault = 1;
            adv();
        }
        expect(pRBracket, "']' expected");
    }
    colour = std::int32_t(expression());
}

TokenStateRule& TScriptParser::stateRule(int token, const StateSet& valid) {
    auto& slot = def_.stateRules[std::size_t(token)];
    if (!slot) {
        slot.emplace();
        slot->valid = valid.empty() ? StateSet{0} : valid;
    } else {
        slot->valid |= valid;
    }
    return *slot;
}

void TScriptParser::run() {
    adv();
    while (!at(symEnd)) {
        SymToken section = cur();
        if (section < kwLanguage || section > kwTemplates) fail("Script syntax error");
        adv();
        switch (section) {
        case kwLanguage:
            language();
            break;
        case kwWords:
            words();
            break;
        case kwKwTables:
            kwTables();
            break;
        case kwHandlers:
            handlers();
            break;
        case kwTokens:
            tokens();
            break;
        case kwMap:
            map();
            break;
        case kwEffects:
            effects();
            break;
        case kwStates:
            states(false);
            break;
        case kwContainers:
            states(true);
            break;
        case kwKeys:
            keys();
            break;
        case kwAutoReplace:
            autoReplace();
            break;
        case kwTemplates:
            templates();
            break;
        default:
            fail("Script syntax error");
        }
    }
    def_.completeContext();
    def_.anyStateTables = !def_.statesWithTables.empty();
    def_.settings.setExtraCaseSensitive(def_.caseFlag != 0);
}

} // namespace morvane::highlight
