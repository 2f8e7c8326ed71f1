// The %%Language section.
#include "core/highlight/ScriptParser.h"

#include "core/editor/CodeMemoError.h"

namespace morvane::highlight {

using editor::ECodeMemo;

void TScriptParser::language() {
    for (;;) {
        if (at(kwLanguage)) {
            adv();
            continue;
        }
        SymToken key = cur();
        if (key < kwName || key > kwGutterFontStyle) return;
        adv();
        if (key == kwEditableStyles) {
            editableStyles();
            continue;
        }
        expect(pEqual, "'=' expected");
        languageKey(key);
    }
}

void TScriptParser::languageKey(SymToken key) {
    TSM_Settings& s = def_.settings;
    switch (key) {
    case kwName:
        s.languageName = stringValue().substr(0, 35);
        break;
    case kwCase:
        def_.caseFlag = std::int32_t(expression());
        break;
    case kwOptions:
        s.options = std::int32_t(expression());
        break;
    case kwExampleText:
        s.exampleText = stringValue();
        break;
    case kwWordWrapColumn:
        s.wordWrapColumn = std::int32_t(expression());
        break;
    case kwGutter:
        s.gutterWidth = std::int32_t(expression());
        break;
    case kwAnchor: {
        StateSet set = setOrNumber();
        def_.anchors = set.empty() ? StateSet{0} : set;
        break;
    }
    case kwIndentStep:
        s.indentStep = rangedExpression(0, 20);
        break;
    case kwWrapOverride:
        s.wrapOverride = stringValue().substr(0, 35);
        break;
    case kwStartState: {
        bool single = false;
        StateSet set = setOrNumber(&single);
        if (single) set.add(0);
        def_.startStates = set;
        break;
    }
    case kwSelTextColor:
        colourValue(s.selTextColor, s.selTextColorDefault);
        break;
    case kwSelTextBack:
        colourValue(s.selTextBack, s.selTextBackDefault);
        break;
    case kwGutterColor:
        colourValue(s.gutterColor, s.gutterColorDefault);
        break;
    case kwMarginColor:
        colourValue(s.marginColor, s.marginColorDefault);
        break;
    case kwRightMargin:
        s.rightMargin = std::int32_t(expression());
        break;
    case kwMarginWidth:
        s.marginWidth = std::int32_t(expression());
        break;
    case kwFontName:
        s.fontName = stringValue();
        break;
    case kwFontSize:
        s.fontSize = std::int32_t(expression());
        break;
    case kwFontCharset:
        s.fontCharset = std::uint8_t(byteValue());
        break;
    case kwTabColumns:
        s.setTabColumnsText(rawString());
        break;
    case kwTabDefault:
        s.defaultTab = std::int32_t(expression());
        break;
    case kwContextStates:
        contextStates();
        break;
    case kwBoundStates:
        def_.boundStates = setOrNumber();
        break;
    case kwGutterFontName: {
        GutterFont f = s.gutterFont();
        f.name = stringValue();
        s.setGutterFont(f);
        break;
    }
    case kwGutterFontSize: {
        GutterFont f = s.gutterFont();
        f.size = std::int32_t(expression());
        s.setGutterFont(f);
        break;
    }
    case kwGutterFontColor: {
        GutterFont f = s.gutterFont();
        f.color = std::int32_t(expression());
        s.setGutterFont(f);
        break;
    }
    case kwGutterFontStyle: {
        GutterFont f = s.gutterFont();
        f.style = fontStyleList();
        s.setGutterFont(f);
        break;
    }
    default:
        fail("Script syntax error");
    }
}

// ( 'name', style ), ... without '='.
void TScriptParser::editableStyles() {
    auto& list = def_.settings.editableStyles;
    for (;;) {
        expect(pLParen, "'(' expected");
        std::string name = stringValue().substr(0, 25);
        expect(pComma, "',' expected");
        std::uint32_t style = expression();
        if (style > 255) fail("Value must be 0..255");
        expect(pRParen, "')' expected");
        if (list.size() >= std::size_t(TSM_Settings::kMaxEditableStyles))
            fail("Too many editable styles");
        list.push_back(EditableStyle{std::move(name), std::uint8_t(style)});
        if (!at(pComma)) return;
        adv();
    }
}

// ( N N ... [SET] ), ...
void TScriptParser::contextStates() {
    for (;;) {
        expect(pLParen, "'(' expected");
        std::vector<int> tokens;
        while (atExpression())
            tokens.push_back(byteValue());
        StateSet set;
        if (at(pLBracket)) set = bracketSet();
        expect(pRParen, "')' expected");
        for (int t : tokens) {
            auto& entry = def_.context[std::size_t(t)];
            if (!entry.empty())
                throw ECodeMemo("Token value " + std::to_string(t) +
                                " re-specified in ContextState");
            entry = set;
        }
        if (!at(pComma)) return;
        adv();
    }
}

} // namespace morvane::highlight
