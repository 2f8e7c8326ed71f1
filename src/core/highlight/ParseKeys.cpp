// The %%Keys, %%AutoReplace and %%Templates sections.
#include "core/highlight/ScriptParser.h"

#include "core/editor/KeyStore.h"

namespace morvane::highlight {

using namespace editor;

// [ shift, ctrl, alt ] key [, key]: the first key with its modifiers, the second bare.
std::uint16_t TScriptParser::keyBinding(std::uint16_t* second) {
    std::uint16_t mods = 0;
    if (at(pLBracket)) {
        adv();
        for (;;) {
            if (at(kwShift))
                mods |= scShift;
            else if (at(kwCtrl))
                mods |= scCtrl;
            else if (at(kwAlt))
                mods |= scAlt;
            else if (!at(pComma))
                break;
            adv();
        }
        expect(pRBracket, "']' expected");
    }
    auto key = [&]() -> std::uint16_t {
        if (atExpression()) return std::uint16_t(byteValue());
        if (!at(symString)) fail("Key specification required");
        std::string s = value();
        if (s.size() != 1) fail("Single character specifier expected");
        adv();
        char c = s[0];
        if (c >= 'a' && c <= 'z') c = char(c - 32);
        return std::uint8_t(c);
    };
    std::uint16_t first = std::uint16_t(key() | mods);
    if (second) {
        *second = 0;
        if (at(pComma)) {
            adv();
            *second = key();
        }
    }
    return first;
}

void TScriptParser::keys() {
    def_.settings.keys.clear();
    for (;;) {
        if (at(kwKeys)) {
            adv();
            continue;
        }
        if (!atExpression()) return;
        auto command = std::int32_t(expression());
        if (at(pLParen)) {
            adv();
            for (;;) {
                std::uint16_t second = 0;
                std::uint16_t first = keyBinding(&second);
                def_.settings.keys.addBinding(first, second, command);
                if (!at(pBar)) break;
                adv();
            }
            expect(pRParen, "')' expected");
        }
        if (at(symString)) {
            std::string name = value();
            if (name.empty()) fail("Key function name cannot be blank");
            adv();
            def_.settings.keys.setCommandName(command, name);
        }
    }
}

void TScriptParser::autoReplace() {
    def_.settings.autoReplace.clearEntries();
    for (;;) {
        if (at(kwAutoReplace)) {
            adv();
            continue;
        }
        if (at(kwActionKeys)) {
            adv();
            expect(pEqual, "'=' expected");
            def_.settings.autoReplace.setEndKeyText(rawString());
            continue;
        }
        if (!at(symString)) return;
        std::string item = stringValue();
        expect(pEqual, "'=' expected");
        def_.settings.autoReplace.addReplacement(item, stringValue());
    }
}

void TScriptParser::templates() {
    def_.settings.templates.clearEntries();
    for (;;) {
        if (at(kwTemplates)) {
            adv();
            continue;
        }
        if (at(kwHotkey)) {
            adv();
            expect(pEqual, "'=' expected");
            expect(pLParen, "'(' expected");
            def_.settings.templates.hotkey = keyBinding(nullptr);
            expect(pRParen, "')' expected");
            continue;
        }
        if (!at(symString)) return;
        std::string name = stringValue();
        std::string description;
        if (at(pLParen)) {
            adv();
            description = stringValue();
            expect(pRParen, "')' expected");
        }
        expect(pEqual, "'=' expected");
        def_.settings.templates.addTemplate(name, description, stringValue());
    }
}

} // namespace morvane::highlight
