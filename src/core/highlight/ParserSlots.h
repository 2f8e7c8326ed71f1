#pragma once
// The six highlighter slots of an editor control, the settings record it uses (the active
// highlighter's, or the control's own while that slot is empty), and the re-highlighting of its
// text after edits.
//
// The class is a second base of the editor control (beside editor::TCustomCodeMemo); it finds
// its control by a cross cast and needs the control to forward three core notifications:
// DirtyRecordHandedOver -> HighlightDirtyRecord, TextEdited -> HighlightTextEdited and
// ApplySettings -> ApplySettingsRecord.

#include "core/highlight/CodeMemoParser.h"
#include "core/highlight/HighlightDriver.h"
#include "core/highlight/SM_Settings.h"

#include <array>
#include <string>
#include <string_view>

namespace morvane::editor {
class TCustomCodeMemo;
}

namespace morvane::highlight {

class TParserSlots {
public:
    static constexpr int kSlotCount = 6;

    TParserSlots() = default;
    virtual ~TParserSlots();
    TParserSlots(const TParserSlots&) = delete;
    TParserSlots& operator=(const TParserSlots&) = delete;

    // Slots are numbered 1 to 6; another number raises ECodeMemo "Parser index out of range".
    TCodeMemoParser* Parser(int slot) const;
    void SetParser(int slot, TCodeMemoParser* parser);
    int ActiveParser() const { return active_; }
    void SetActiveParser(int slot);
    // The highlighter of the active slot; null when it is empty.
    TCodeMemoParser* Active() const { return slots_[active_ - 1]; }

    // The settings record in use.
    TSM_Settings& Settings() { return Active() ? Active()->settings() : ownSettings_; }
    const TSM_Settings& Settings() const { return Active() ? Active()->settings() : ownSettings_; }
    TSM_Settings& OwnSettings() { return ownSettings_; }

    // --- re-highlighting ---
    // The active highlighter when it can highlight (a definition that needs a custom parse
    // handler it lacks cannot); null otherwise.
    TCodeMemoParser* Highlighter() const;
    // The change notification's dirty record: re-highlighted from there when it is flagged stale
    // or scan-start, up to visible rows + 2 records; the rest is left pending.
    void HighlightDirtyRecord(editor::RecIndex dirty);
    void HighlightTextEdited(editor::TextOffset start, editor::TextOffset extent);
    bool HighlightPending() const { return driver_.Pending(); }
    // Continues pending work for about maxRecords records; returns whether some is left.
    bool ContinueHighlight(editor::RecIndex maxRecords);
    // Finishes pending work up to and including record rec: call before rows are painted.
    void EnsureHighlightedThrough(editor::RecIndex rec);
    // Highlights the whole text now (before an export).
    void HighlightAll();
    // Drops every token byte and highlights again from the first record.
    void RestartHighlighting();
    THighlightDriver& HighlightDriver() { return driver_; }
    // OnTokenSeen of the control: -1, -1 before a pass, each token, -2, -2 after it.
    TTokenSeenEvent OnTokenSeen;

    // The options word, tab stops, indent step, key map and layout values of the settings record
    // go to the control; highlighting restarts. The Qt control adds the font.
    void ApplySettingsRecord();

    // Told by a highlighter in a slot.
    void ParserDestroyed(TCodeMemoParser* parser);
    void ParserChanged(TCodeMemoParser* parser);

protected:
    // The active slot's highlighter (and with it the settings record) changed; the default
    // re-applies the settings through SM_APPLYSETTINGS.
    virtual void SettingsSourceChanged();
    // Pending work is left: the control arranges to call ContinueHighlight when idle.
    virtual void SchedulePendingHighlight() {}

    editor::TCustomCodeMemo* Memo();

private:
    static void checkSlot(int slot);
    TTokenSink TokenSink();
    void DetachAll();

    std::array<TCodeMemoParser*, kSlotCount> slots_{};
    int active_ = 1;
    TSM_Settings ownSettings_;
    THighlightDriver driver_;
    TCodeMemoParser* highlightedWith_ = nullptr; // whose token bytes the text holds
    editor::TCustomCodeMemo* memo_ = nullptr;
};

// What a language's name tells the editor about its blocks: the characters after which Enter
// indents one level more, and whether tags of markup are matched like brackets.
struct LanguageEditRules {
    std::string indentOpeners;
    int tagMatch = 0; // editor::TCustomCodeMemo::TTagMatch
};
LanguageEditRules EditRulesForLanguage(std::string_view languageName);

} // namespace morvane::highlight
