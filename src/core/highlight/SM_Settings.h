#pragma once
// TSM_Settings: what a highlighter gives every editor that uses it: language name, options,
// colours, fonts, tab stops, token-to-style map, style effects, editable styles, the %%KwTables
// keyword tables, the key map, auto-replace list and code templates. Streamed inside compiled
// highlighters and kept in the settings store as a style string and a key assignment value.

#include "core/editor/AutoReplace.h"
#include "core/editor/BinaryStream.h"
#include "core/editor/CodeMemoOptions.h"
#include "core/editor/CodeTemplates.h"
#include "core/editor/KeyboardActionContoller.h"
#include "core/editor/Keywords.h"
#include "core/editor/StateSet.h"
#include "core/highlight/SM_CharGroup.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::highlight {

using editor::StateSet;

// Colours are 0x00BBGGRR; values with the top bit set refer to a system colour by index.
constexpr std::int32_t kSysColorHighlight = std::int32_t(0x8000000D);
constexpr std::int32_t kSysColorHighlightText = std::int32_t(0x8000000E);
constexpr std::int32_t kSysColorBtnFace = std::int32_t(0x8000000F);

// The options a highlighter starts with when neither its script nor the user's stored settings
// say otherwise: the control's own, with line numbers in the gutter.
constexpr std::int32_t kDefaultOptions =
    std::int32_t(editor::kInitialOptions | editor::smoLineNumbers);

enum FontStyleBits : std::uint8_t {
    fsBoldBit = 1,
    fsItalicBit = 2,
    fsUnderlineBit = 4,
    fsStrikeBit = 8
};

struct StyleEffect {
    std::uint8_t fontStyle = 0;
    std::int32_t foreground = 0;
    std::int32_t background = 16777215;
    std::uint8_t foregroundDefault = 0;
    std::uint8_t backgroundDefault = 0;
    std::uint8_t hotSpot = 0;
    std::int32_t inUse = 0;
    bool operator==(const StyleEffect&) const = default;
};

struct EditableStyle {
    std::string name;
    std::uint8_t style = 0;
    bool operator==(const EditableStyle&) const = default;
};

struct KeywordTable {
    StateSet states;
    std::string endsWith; // character specifier, raw; empty: any character may follow
    std::int32_t caseFlag = 0;
    std::vector<std::pair<std::string, std::int32_t>> words;
    bool operator==(const KeywordTable&) const = default;
};

struct GutterFont {
    std::string name = "Sans Serif";
    std::int32_t size = 8;
    std::uint8_t charset = 1;
    std::int32_t color = 0;
    std::uint8_t style = 0;
    bool operator==(const GutterFont&) const = default;
};

class TSM_Settings {
public:
    static constexpr int kMaxEditableStyles = 25;
    static constexpr int kMaxKeywordTables = 21;
    static constexpr int kMaxTabStops = 32;
    static constexpr std::int32_t kStreamVersion = 51;

    TSM_Settings();
    TSM_Settings(const TSM_Settings&) = delete;
    TSM_Settings& operator=(const TSM_Settings&) = delete;

    void reset();
    // Takes every value of other (a record just loaded) in exchange for its own; the attached
    // editors stay, and hear of a gutter font change.
    void takeContent(TSM_Settings& other);

    std::string exampleText;
    std::string languageName;
    std::string wrapOverride;
    std::int32_t options = 0;
    std::int32_t marginWidth = 0;
    std::int32_t rightMargin = 0;
    std::int32_t wordWrapColumn = 0;
    std::int32_t gutterWidth = 0;
    std::int32_t indentStep = 0;
    std::int32_t marginColor = 0;
    std::int32_t gutterColor = 0;
    std::int32_t selTextColor = 0;
    std::int32_t selTextBack = 0;
    std::int32_t defaultTab = 0;
    std::array<std::int32_t, kMaxTabStops> tabColumns{};
    std::array<StyleEffect, 256> effects{};
    std::array<std::uint8_t, 256> tokenStyle{};
    std::vector<EditableStyle> editableStyles; // at most kMaxEditableStyles
    std::string fontName;
    std::int32_t fontSize = 0;
    std::uint8_t fontCharset = 0;
    std::uint8_t marginColorDefault = 0;
    std::uint8_t selTextColorDefault = 0;
    std::uint8_t selTextBackDefault = 0;
    std::uint8_t gutterColorDefault = 0;

    editor::TKeyboardActionContoller keys;
    editor::TAutoReplace autoReplace;
    editor::TCodeTemplates templates;

    // The %%KwTables tables and the one trie they are merged into for the engine; ends-with
    // groups of that trie are numbers in kwGroups.
    const std::vector<KeywordTable>& keywordTables() const { return kwTables_; }
    // Replaces a table with equal states; raises EKeywords for overlapping states or a 22nd table.
    void addKeywordTable(KeywordTable table);
    const editor::TKeywords& extraKeywords() const { return extra_; }
    void setExtraCaseSensitive(bool on) { extra_.setCaseSensitive(on); }
    const TSM_CharGroupManager& kwGroups() const { return kwGroups_; }

    const GutterFont& gutterFont() const { return gutterFont_; }
    // A digest of every colour of the record and whether each follows the desktop.
    std::uint64_t colourPrint() const;
    // Tells every attached editor; an editor's failure does not stop the others.
    void setGutterFont(const GutterFont& font);

    // Editors using the record, counted; the callback hears of gutter font changes.
    void attach(const void* editor, std::function<void(TSM_Settings&)> gutterFontChanged = {});
    void detach(const void* editor);
    std::size_t attachedCount() const { return editors_.size(); }

    // The colours as the definition gave them, remembered when it is loaded: a view follows a
    // dark desktop with the dark set only while the user has changed none of them.
    void markColoursShipped() { shippedColours_ = colourPrint(); }
    bool coloursAsShipped() const { return colourPrint() == shippedColours_; }

    bool hasHotSpot() const;
    const StyleEffect& effect(int style) const { return effects[std::uint8_t(style)]; }
    void setEffect(int style, const StyleEffect& e) { effects[std::uint8_t(style)] = e; }
    std::uint8_t styleOfToken(int token) const { return tokenStyle[std::uint8_t(token)]; }
    void setStyleOfToken(int token, std::uint8_t style) { tokenStyle[std::uint8_t(token)] = style; }
    void resetEffects();

    // Tab stops as text: 1-based columns separated by blanks, up to the first unused one.
    std::string tabColumnsText() const;
    // Raises ECodeMemo for a text that breaks the rule; the columns stay as they were then.
    void setTabColumnsText(std::string_view text);
    static std::array<std::int32_t, kMaxTabStops> parseTabColumns(std::string_view text);

    // Stream form; versions above 50 carry the gutter font.
    void writeStream(editor::BinaryWriter& out, std::int32_t version = kStreamVersion) const;
    void readStream(editor::BinaryReader& in, std::int32_t version = kStreamVersion);

    // The "Corvix6:" style string, and reading one of any format version 1..9.
    std::string styleString() const;
    void applyStyleString(std::string_view text);

private:
    void rebuildExtraKeywords();

    std::vector<KeywordTable> kwTables_;
    editor::TKeywords extra_;
    TSM_CharGroupManager kwGroups_;
    GutterFont gutterFont_;
    std::uint64_t shippedColours_ = 0;
    std::vector<std::pair<const void*, std::function<void(TSM_Settings&)>>> editors_;
};

} // namespace morvane::highlight
