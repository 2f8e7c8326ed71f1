#include "core/highlight/SM_Settings.h"

#include "core/editor/CodeMemoError.h"

#include <algorithm>

namespace morvane::highlight {

using editor::BinaryReader;
using editor::BinaryWriter;
using editor::ECodeMemo;
using editor::EKeywords;

TSM_Settings::TSM_Settings() {
    reset();
}

void TSM_Settings::resetEffects() {
    effects.fill(StyleEffect{});
    effects[0].inUse = 1;
}

void TSM_Settings::reset() {
    exampleText.clear();
    languageName = "<Custom language>";
    wrapOverride = ">|:";
    options = kDefaultOptions;
    marginWidth = 2;
    rightMargin = 80;
    wordWrapColumn = 0;
    gutterWidth = 34;
    indentStep = 0; // a level of the tab width
    marginColor = 16777215;
    gutterColor = kSysColorBtnFace;
    selTextColor = kSysColorHighlightText;
    selTextBack = kSysColorHighlight;
    defaultTab = 4;
    tabColumns.fill(-1);
    resetEffects();
    tokenStyle.fill(0);
    editableStyles.clear();
    fontName = "Courier New";
    fontSize = 10;
    fontCharset = 1;
    marginColorDefault = selTextColorDefault = selTextBackDefault = gutterColorDefault = 0;
    kwTables_.clear();
    extra_.clear();
    extra_.setCaseSensitive(false);
    kwGroups_.clear();
    gutterFont_ = GutterFont{};
    autoReplace.reset();
    templates.clearEntries();
    keys = editor::TKeyboardActionContoller::globalDefault();
    markColoursShipped();
}

std::uint64_t TSM_Settings::colourPrint() const {
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&h](std::int64_t v) {
        h ^= static_cast<std::uint64_t>(v);
        h *= 1099511628211ull;
    };
    for (const StyleEffect& e : effects) {
        mix(e.foreground);
        mix(e.background);
        mix(e.foregroundDefault << 1 | e.backgroundDefault);
    }
    for (std::int64_t v :
         {std::int64_t(marginColor), std::int64_t(gutterColor), std::int64_t(selTextColor),
          std::int64_t(selTextBack), std::int64_t(gutterFont_.color)})
        mix(v);
    mix(marginColorDefault << 3 | selTextColorDefault << 2 | selTextBackDefault << 1 |
        gutterColorDefault);
    return h;
}

void TSM_Settings::takeContent(TSM_Settings& o) {
    using std::swap;
    swap(exampleText, o.exampleText);
    swap(languageName, o.languageName);
    swap(wrapOverride, o.wrapOverride);
    for (auto [a, b] : {std::pair{&options, &o.options},
                        {&marginWidth, &o.marginWidth},
                        {&rightMargin, &o.rightMargin},
                        {&wordWrapColumn, &o.wordWrapColumn},
                        {&gutterWidth, &o.gutterWidth},
                        {&indentStep, &o.indentStep},
                        {&marginColor, &o.marginColor},
                        {&gutterColor, &o.gutterColor},
                        {&selTextColor, &o.selTextColor},
                        {&selTextBack, &o.selTextBack},
                        {&defaultTab, &o.defaultTab},
                        {&fontSize, &o.fontSize}})
        swap(*a, *b);
    swap(tabColumns, o.tabColumns);
    swap(effects, o.effects);
    swap(tokenStyle, o.tokenStyle);
    swap(editableStyles, o.editableStyles);
    swap(fontName, o.fontName);
    swap(fontCharset, o.fontCharset);
    swap(marginColorDefault, o.marginColorDefault);
    swap(selTextColorDefault, o.selTextColorDefault);
    swap(selTextBackDefault, o.selTextBackDefault);
    swap(gutterColorDefault, o.gutterColorDefault);
    swap(keys, o.keys);
    swap(autoReplace, o.autoReplace);
    swap(templates, o.templates);
    swap(kwTables_, o.kwTables_);
    swap(extra_, o.extra_);
    swap(kwGroups_, o.kwGroups_);
    const GutterFont font = o.gutterFont_;
    o.gutterFont_ = gutterFont_;
    if (!(font == gutterFont_)) setGutterFont(font);
}

void TSM_Settings::addKeywordTable(KeywordTable table) {
    if (table.states.empty()) table.states.add(0);
    auto same = kwTables_.end();
    for (auto it = kwTables_.begin(); it != kwTables_.end(); ++it) {
        if (!it->states.meets(table.states)) continue;
        if (it->states != table.states) throw EKeywords("Ambigious key table state definition");
        same = it;
    }
    if (same != kwTables_.end()) {
        *same = std::move(table);
    } else {
        if (kwTables_.size() >= std::size_t(kMaxKeywordTables))
            throw EKeywords("Too many keyword tables declared");
        kwTables_.push_back(std::move(table));
    }
    rebuildExtraKeywords();
}

void TSM_Settings::rebuildExtraKeywords() {
    bool caseFlag = extra_.caseSensitive();
    extra_.clear();
    kwGroups_.clear();
    for (const auto& t : kwTables_) {
        std::int32_t follow = -1;
        if (!t.endsWith.empty()) {
            auto groups = parseCharSpecifiers(t.endsWith);
            if (!groups.empty()) follow = std::int32_t(kwGroups_.add(groups.front()));
        }
        extra_.setCaseSensitive(t.caseFlag != 0);
        for (const auto& [word, value] : t.words)
            extra_.add(word, std::uint8_t(value), t.states, follow);
    }
    extra_.setCaseSensitive(caseFlag);
}

void TSM_Settings::setGutterFont(const GutterFont& font) {
    gutterFont_ = font;
    auto listeners = editors_;
    for (auto& [editor, changed] : listeners) {
        if (!changed) continue;
        try {
            changed(*this);
        } catch (...) {
            // One editor's failure must not keep the others from hearing of the change.
        }
    }
}

void TSM_Settings::attach(const void* editor, std::function<void(TSM_Settings&)> changed) {
    for (auto& e : editors_)
        if (e.first == editor) return;
    editors_.emplace_back(editor, std::move(changed));
}

void TSM_Settings::detach(const void* editor) {
    std::erase_if(editors_, [&](const auto& e) { return e.first == editor; });
}

bool TSM_Settings::hasHotSpot() const {
    return std::any_of(effects.begin(), effects.end(),
                       [](const StyleEffect& e) { return e.inUse && e.hotSpot; });
}

std::string TSM_Settings::tabColumnsText() const {
    std::string text;
    for (auto c : tabColumns) {
        if (c < 0) break;
        if (!text.empty()) text += ' ';
        text += std::to_string(c + 1);
    }
    return text;
}

std::array<std::int32_t, TSM_Settings::kMaxTabStops>
TSM_Settings::parseTabColumns(std::string_view text) {
    std::array<std::int32_t, kMaxTabStops> cols;
    cols.fill(-1);
    std::size_t n = 0, i = 0;
    for (;;) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i >= text.size()) break;
        if (text[i] < '0' || text[i] > '9') throw ECodeMemo("Tab stop column value expected");
        std::int64_t v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v = std::min<std::int64_t>(v * 10 + (text[i] - '0'), 1'000'000'000);
            ++i;
        }
        if (i < text.size() && text[i] != ' ') throw ECodeMemo("Tab stop column value expected");
        if (v <= 1) throw ECodeMemo("Tab column must be > 1");
        if (n > 0 && v - 1 <= cols[n - 1])
            throw ECodeMemo("Tab columns must be in order and unique");
        if (n >= std::size_t(kMaxTabStops))
            throw ECodeMemo("Too many tab stops - maximum of " + std::to_string(kMaxTabStops));
        cols[n++] = std::int32_t(v - 1);
    }
    return cols;
}

void TSM_Settings::setTabColumnsText(std::string_view text) {
    tabColumns = parseTabColumns(text);
}

void TSM_Settings::writeStream(BinaryWriter& out, std::int32_t version) const {
    out.str32(exampleText);
    out.str32(languageName);
    out.str32(wrapOverride);
    for (std::int32_t v :
         {options, marginWidth, rightMargin, wordWrapColumn, gutterWidth, indentStep, marginColor,
          gutterColor, selTextColor, selTextBack, defaultTab})
        out.i32(v);
    std::int32_t used = 0;
    for (const auto& e : effects)
        used += e.inUse ? 1 : 0;
    out.i32(used);
    for (int s = 0; s < 256; ++s) {
        const auto& e = effects[std::size_t(s)];
        if (!e.inUse) continue;
        out.u8(std::uint8_t(s));
        out.u8(e.fontStyle);
        out.i32(e.foreground);
        out.i32(e.background);
        out.u8(e.foregroundDefault);
        out.u8(e.backgroundDefault);
        out.u8(e.hotSpot);
        out.i32(e.inUse);
    }
    std::int32_t mapped = 0;
    for (auto s : tokenStyle)
        mapped += s ? 1 : 0;
    out.i32(mapped);
    for (int t = 0; t < 256; ++t)
        if (tokenStyle[std::size_t(t)]) {
            out.u8(std::uint8_t(t));
            out.u8(tokenStyle[std::size_t(t)]);
        }
    out.i32(std::int32_t(editableStyles.size()));
    for (const auto& s : editableStyles) {
        out.str32(s.name);
        out.u8(s.style);
    }
    for (auto c : tabColumns)
        out.i32(c);
    out.str32(fontName);
    out.i32(fontSize);
    out.u8(fontCharset);
    out.u8(marginColorDefault);
    out.u8(selTextColorDefault);
    out.u8(selTextBackDefault);
    out.u8(gutterColorDefault);
    out.i32(std::int32_t(kwTables_.size()));
    for (const auto& t : kwTables_) {
        out.bytes(std::string_view(reinterpret_cast<const char*>(t.states.bits.data()), 32));
        out.str32(t.endsWith);
        out.i32(t.caseFlag);
        out.i32(std::int32_t(t.words.size()));
        for (const auto& [w, v] : t.words) {
            out.str32(w);
            out.i32(v);
        }
    }
    autoReplace.saveToStream(out);
    templates.saveToStream(out);
    keys.saveToStream(out);
    if (version > 50) {
        out.str32(gutterFont_.name);
        out.i32(gutterFont_.size);
        out.u8(gutterFont_.charset);
        out.i32(gutterFont_.color);
        out.u8(gutterFont_.style);
    }
}

void TSM_Settings::readStream(BinaryReader& in, std::int32_t version) {
    reset();
    exampleText = in.str32();
    languageName = in.str32();
    wrapOverride = in.str32();
    for (std::int32_t* v :
         {&options, &marginWidth, &rightMargin, &wordWrapColumn, &gutterWidth, &indentStep,
          &marginColor, &gutterColor, &selTextColor, &selTextBack, &defaultTab})
        *v = in.i32();
    std::uint32_t count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        StyleEffect e;
        std::uint8_t s = in.u8();
        e.fontStyle = in.u8();
        e.foreground = in.i32();
        e.background = in.i32();
        e.foregroundDefault = in.u8();
        e.backgroundDefault = in.u8();
        e.hotSpot = in.u8();
        e.inUse = in.i32();
        effects[s] = e;
    }
    count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t t = in.u8();
        tokenStyle[t] = in.u8();
    }
    count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        EditableStyle s;
        s.name = in.str32();
        s.style = in.u8();
        if (editableStyles.size() < std::size_t(kMaxEditableStyles))
            editableStyles.push_back(std::move(s));
    }
    for (auto& c : tabColumns)
        c = in.i32();
    fontName = in.str32();
    fontSize = in.i32();
    fontCharset = in.u8();
    marginColorDefault = in.u8();
    selTextColorDefault = in.u8();
    selTextBackDefault = in.u8();
    gutterColorDefault = in.u8();
    count = in.u32();
    for (std::uint32_t i = 0; i < count; ++i) {
        KeywordTable t;
        std::string bits = in.bytes(32);
        std::copy(bits.begin(), bits.end(), t.states.bits.begin());
        t.endsWith = in.str32();
        t.caseFlag = in.i32();
        std::uint32_t words = in.u32();
        for (std::uint32_t w = 0; w < words; ++w) {
            std::string word = in.str32();
            t.words.emplace_back(std::move(word), in.i32());
        }
        extra_.setCaseSensitive(t.caseFlag != 0);
        addKeywordTable(std::move(t));
    }
    autoReplace.loadFromStream(in);
    templates.loadFromStream(in);
    keys.loadFromStream(in);
    if (version > 50) {
        GutterFont f;
        f.name = in.str32();
        f.size = in.i32();
        f.charset = in.u8();
        f.color = in.i32();
        f.style = in.u8();
        gutterFont_ = f;
    }
}

} // namespace morvane::highlight
