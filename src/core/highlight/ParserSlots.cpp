#include "core/highlight/ParserSlots.h"

#include "core/highlight/CommentTokens.h"

#include "core/editor/CodeMemoError.h"
#include "core/editor/CodeMemoMessages.h"
#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <cctype>

namespace morvane::highlight {

using editor::RecIndex;
using editor::TextOffset;

namespace {

// Layout properties a control may not have; applied where it does.
template <class M> void setLayout(M& m, const TSM_Settings& s) {
    if constexpr (requires { m.SetGutter(0); }) m.SetGutter(s.gutterWidth);
    if constexpr (requires { m.SetMargin(0); }) m.SetMargin(s.marginWidth);
    if constexpr (requires { m.SetRightMargin(0); }) m.SetRightMargin(s.rightMargin);
    if constexpr (requires { m.SetWrapOverride(std::string_view()); })
        m.SetWrapOverride(s.wrapOverride);
    if constexpr (requires { m.SetWrapAtColumn(0); }) m.SetWrapAtColumn(s.wordWrapColumn);
}

} // namespace

LanguageEditRules EditRulesForLanguage(std::string_view languageName) {
    std::string name(languageName);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    LanguageEditRules r;
    if (name == "python" || name == "yaml")
        r.indentOpeners = ":";
    else if (name == "json")
        r.indentOpeners = "{[";
    else if (name == "c++" || name == "c" || name == "javascript" || name == "css" ||
             name == "php" || name == "perl" || name == "java" || name == "c#" || name == "shell")
        r.indentOpeners = "{";
    if (name == "html" || name == "php")
        r.tagMatch = editor::TCustomCodeMemo::tmHtml;
    else if (name == "xml")
        r.tagMatch = editor::TCustomCodeMemo::tmXml;
    return r;
}

TParserSlots::~TParserSlots() {
    DetachAll();
}

void TParserSlots::checkSlot(int slot) {
    if (slot < 1 || slot > kSlotCount) throw editor::ECodeMemo("Parser index out of range");
}

editor::TCustomCodeMemo* TParserSlots::Memo() {
    if (!memo_) memo_ = dynamic_cast<editor::TCustomCodeMemo*>(this);
    return memo_;
}

TCodeMemoParser* TParserSlots::Parser(int slot) const {
    checkSlot(slot);
    return slots_[slot - 1];
}

void TParserSlots::SetParser(int slot, TCodeMemoParser* parser) {
    checkSlot(slot);
    TCodeMemoParser* old = slots_[slot - 1];
    if (old == parser) return;
    slots_[slot - 1] = parser;
    if (old && std::find(slots_.begin(), slots_.end(), old) == slots_.end()) {
        old->Detach(this);
        old->settings().detach(this);
    }
    if (parser && std::count(slots_.begin(), slots_.end(), parser) == 1) {
        parser->Attach(this);
        parser->settings().attach(this);
    }
    if (slot == active_) SettingsSourceChanged();
}

void TParserSlots::SetActiveParser(int slot) {
    checkSlot(slot);
    if (slot == active_) return;
    TCodeMemoParser* before = Active();
    active_ = slot;
    if (Active() != before) SettingsSourceChanged();
}

void TParserSlots::DetachAll() {
    for (auto*& p : slots_) {
        if (!p) continue;
        TCodeMemoParser* gone = p;
        for (auto*& q : slots_)
            if (q == gone) q = nullptr;
        gone->Detach(this);
        gone->settings().detach(this);
    }
}

void TParserSlots::ParserDestroyed(TCodeMemoParser* parser) {
    bool active = Active() == parser;
    for (auto*& p : slots_)
        if (p == parser) p = nullptr;
    parser->Detach(this);
    parser->settings().detach(this);
    // The active one's token values go with it when the settings are applied again.
    if (active)
        SettingsSourceChanged();
    else if (highlightedWith_ == parser)
        highlightedWith_ = nullptr;
}

void TParserSlots::ParserChanged(TCodeMemoParser* parser) {
    if (Active() != parser) return;
    // A new definition: the stored token bytes no longer mean what they did.
    highlightedWith_ = nullptr;
    SettingsSourceChanged();
}

void TParserSlots::SettingsSourceChanged() {
    if (auto* m = Memo()) m->Perform(editor::SM_APPLYSETTINGS, 0, 0);
}

void TParserSlots::ApplySettingsRecord() {
    editor::TCustomCodeMemo* m = Memo();
    if (!m) return;
    TSM_Settings& s = Settings();
    m->SetOptions(static_cast<std::uint32_t>(s.options));
    if (s.defaultTab > 0) m->SetTabDefault(s.defaultTab);
    try {
        m->SetTabColumns(s.tabColumnsText());
    } catch (const editor::ECodeMemo&) {
        // A record from a damaged store keeps the control's tab stops.
    }
    m->SetIndentStep(s.indentStep);
    LanguageEditRules rules = EditRulesForLanguage(s.languageName);
    m->SetIndentOpeners(rules.indentOpeners);
    m->SetTagMatch(static_cast<editor::TCustomCodeMemo::TTagMatch>(rules.tagMatch));
    m->SetKeyMap(&s.keys);
    m->SetCommentTokens(commentTokensFor(s.languageName));
    m->SetCodeTemplates(&s.templates);
    m->SetAutoReplace(&s.autoReplace);
    setLayout(*m, s);

    if (Highlighter() != highlightedWith_) {
        RestartHighlighting();
    } else if (RecIndex dirty = m->DirtyRecord(); dirty >= 0) {
        m->ForgetDirtyRecord();
        HighlightDirtyRecord(dirty);
    }
}

TCodeMemoParser* TParserSlots::Highlighter() const {
    TCodeMemoParser* p = Active();
    return p && p->engine().CanHighlight() ? p : nullptr;
}

TTokenSink TParserSlots::TokenSink() {
    if (!OnTokenSeen) return {};
    editor::TCustomCodeMemo* m = Memo();
    return
        [this, m](int value, TextOffset from, TextOffset to) { OnTokenSeen(m, value, from, to); };
}

void TParserSlots::HighlightTextEdited(TextOffset start, TextOffset extent) {
    driver_.TextEdited(start, extent);
}

void TParserSlots::HighlightDirtyRecord(RecIndex dirty) {
    editor::TCustomCodeMemo* m = Memo();
    TCodeMemoParser* p = Highlighter();
    if (!m || !p) {
        driver_.Forget();
        return;
    }
    if (p != highlightedWith_) {
        RestartHighlighting();
        return;
    }
    editor::TTextStore& store = m->Store();
    if (store.Empty() || dirty < 0) {
        driver_.Forget();
        return;
    }
    dirty = std::min(dirty, store.Count() - 1);
    if (!(store.Rec(dirty).flags & (editor::lfStale | editor::lfHighlighterFirst))) return;
    THighlightResult res = driver_.Rehighlight(store, p->engine(), p->engineStates(), dirty,
                                               m->VisibleRows() + 2, TokenSink());
    m->EdStream().SetPos(res.restart);
    if (driver_.Pending()) SchedulePendingHighlight();
}

bool TParserSlots::ContinueHighlight(RecIndex maxRecords) {
    editor::TCustomCodeMemo* m = Memo();
    TCodeMemoParser* p = Highlighter();
    if (!m || !p || p != highlightedWith_) {
        driver_.Forget();
        return false;
    }
    return driver_.Continue(m->Store(), p->engine(), p->engineStates(), maxRecords, TokenSink());
}

void TParserSlots::EnsureHighlightedThrough(RecIndex rec) {
    if (!driver_.Pending()) return;
    editor::TCustomCodeMemo* m = Memo();
    TCodeMemoParser* p = Highlighter();
    if (!m || !p || p != highlightedWith_) {
        driver_.Forget();
        return;
    }
    driver_.EnsureHighlightedThrough(m->Store(), p->engine(), p->engineStates(), rec, TokenSink());
}

void TParserSlots::HighlightAll() {
    editor::TCustomCodeMemo* m = Memo();
    TCodeMemoParser* p = Highlighter();
    if (!m || !p) return;
    if (p != highlightedWith_) RestartHighlighting();
    if (RecIndex dirty = m->DirtyRecord(); dirty >= 0 && !m->Store().Empty()) {
        m->ForgetDirtyRecord();
        driver_.Rehighlight(m->Store(), p->engine(), p->engineStates(), dirty, -1, TokenSink());
    }
    driver_.EnsureHighlightedThrough(m->Store(), p->engine(), p->engineStates(), m->Store().Count(),
                                     TokenSink());
}

void TParserSlots::RestartHighlighting() {
    editor::TCustomCodeMemo* m = Memo();
    if (!m) return;
    editor::TTextStore& store = m->Store();
    store.DropAllAttrs();
    for (auto c = store.CursorAt(0); !store.AtEnd(c); store.Next(c))
        store.Rec(c).flags =
            TEngineStateTable::WithId(store.Rec(c).flags, 0) | editor::lfStale | editor::lfRepaint;
    driver_.Forget();
    highlightedWith_ = Highlighter();
    if (!highlightedWith_ || store.Empty()) return;
    m->ForgetDirtyRecord();
    driver_.StartOver();
    // The rows on screen now, the rest when idle.
    driver_.EnsureHighlightedThrough(store, highlightedWith_->engine(),
                                     highlightedWith_->engineStates(),
                                     m->TopLine() + m->VisibleRows() + 2, TokenSink());
    if (driver_.Pending()) SchedulePendingHighlight();
}

} // namespace morvane::highlight
