// Numbered bookmarks, code templates and auto-replace: the aids that act on the text around the
// caret. Bookmarks live in the mark words of the records, so they follow every edit that keeps
// their line; templates and auto-replace are asked by KeyDown before the key map.

#include "core/editor/AutoReplace.h"
#include "core/editor/CodeMemoError.h"
#include "core/editor/CodeTemplates.h"
#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <limits>

namespace morvane::editor {

namespace {

void CheckBookmarkIndex(int index) {
    if (index < 0 || index > 9) throw ECodeMemo("Bookmark index range error");
}

// A word typed before the caret is never longer than this; the list's search needs no more.
constexpr TextOffset kMaxPartialWord = 256;

} // namespace

// --- numbered bookmarks ---

RecIndex TCustomCodeMemo::BookmarkRecord(int index) const {
    CheckBookmarkIndex(index);
    const auto bit = static_cast<std::uint16_t>(1u << index);
    if (store_->Empty()) return -1;
    for (TTextStore::Cursor c = store_->CursorAt(0); !store_->AtEnd(c); store_->Next(c))
        if (store_->Rec(c).mark & bit) return c.rec;
    return -1;
}

void TCustomCodeMemo::SetBookmark(int index) {
    CheckBookmarkIndex(index);
    // The empty line after the last line break has no record to carry it.
    RecIndex rec = CaretPos().rec;
    if (rec >= LineCount()) return;
    TextOffset column = caret_ - store_->Start(rec) + 1;
    SetBookmarkAt(index, rec + 1, static_cast<int>(std::min<TextOffset>(column, 0xFFFF)));
}

void TCustomCodeMemo::SetBookmarkAt(int index, RecIndex line, int column) {
    CheckBookmarkIndex(index);
    const auto bit = static_cast<std::uint16_t>(1u << index);
    RecIndex old = BookmarkRecord(index);
    if (old >= 0) {
        store_->Rec(old).mark &= static_cast<std::uint16_t>(~kBookmarkBits);
        FlagRange(old, old, lfRepaint);
    }
    if (LineCount() == 0) {
        Invalidate();
        return;
    }
    RecIndex rec = std::clamp<RecIndex>(line, 1, LineCount()) - 1;
    TextOffset at = store_->Start(rec) + std::max(column, 1) - 1;
    // The bookmark belongs to the physical line; the column counts from its start.
    RecIndex first = LineSpanOf(rec).first;
    if (first == old) {
        Invalidate();
        return;
    }
    TLineRec& r = store_->Rec(first);
    r.mark = static_cast<std::uint16_t>((r.mark & ~kBookmarkBits) | bit);
    bookmarkColumns_[static_cast<std::size_t>(index)] = static_cast<std::uint16_t>(
        std::clamp<TextOffset>(at - store_->Start(first) + 1, 1, 0xFFFF));
    FlagRange(first, first, lfRepaint);
    changeBits_ |= cbCommand;
    if (OnBookmarkSet) OnBookmarkSet(this, index);
    Invalidate();
}

void TCustomCodeMemo::GotoBookmark(int index) {
    RecIndex rec = BookmarkRecord(index);
    if (rec < 0) return;
    LineSpan line = LineSpanOf(rec);
    TextOffset length = line.end - line.start;
    if (length > 0 && store_->EndsWithCR(line.last)) --length;
    TextOffset column = bookmarkColumns_[static_cast<std::size_t>(index)];
    // An empty line, or one that became shorter: its start, or its end.
    TextOffset pos = line.start + std::clamp<TextOffset>(column - 1, 0, length);
    SetSelection(pos, pos);
    desiredColumn_ = ColumnAt(pos);
    SetTopLine(std::max<RecIndex>(LineFromOffset(pos) - VisibleRows() / 2, 0));
    ScrollToCaret();
}

// --- the template choice list's search ---

int TTemplateSearch::Find() const {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const std::string& n = names_[i];
        if (n.size() < prefix_.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < prefix_.size() && same; ++k)
            same = TKeywords::lower(n[k]) == TKeywords::lower(prefix_[k]);
        if (same) return static_cast<int>(i);
    }
    return -1;
}

int TTemplateSearch::Type(char c) {
    prefix_.push_back(c);
    int found = Find();
    if (found >= 0) return found;
    prefix_.assign(1, c);
    return Find();
}

// --- templates and auto-replace ---

std::optional<TCustomCodeMemo::MacroMatch>
TCustomCodeMemo::MacroBefore(const TMacroKeywords& store) const {
    if (store.empty() || caret_ <= 0 || caret_ > TextLength()) return std::nullopt;
    // Only as much text as the longest name can take is read: usually the caret's own record,
    // looked at in place.
    auto span = static_cast<TextOffset>(store.maxNameLength());
    auto where = store_->Locate(caret_ - 1);
    auto inRecord = static_cast<std::size_t>(caret_ - where.start);
    std::string window;
    std::string_view text;
    if (static_cast<TextOffset>(inRecord) >= span || where.rec == 0) {
        text = store_->Text(where.rec).substr(0, inRecord);
    } else {
        window = RangeText(std::max<TextOffset>(caret_ - span, 0), caret_, tfStored);
        text = window;
    }
    auto found = store.nameBefore(text, text.size());
    if (!found) return std::nullopt;
    return MacroMatch{found->first, caret_ - static_cast<TextOffset>(found->second)};
}

TKeyHookResult TCustomCodeMemo::TemplateKey(std::uint16_t key, unsigned shift) {
    if (!templates_ || readOnly_ || !templates_->isTrigger(key, shift)) {
        return TKeyHookResult::NotHandled;
    }
    const bool swallow = templates_->swallowKey;
    if (auto match = MacroBefore(*templates_)) {
        if (ExpandMatch(*match, false))
            return swallow ? TKeyHookResult::Consumed : TKeyHookResult::Handled;
        return TKeyHookResult::NotHandled;
    }
    if (!templates_->popup || templates_->entries().empty()) return TKeyHookResult::NotHandled;

    // The word before the caret becomes the partial name, selected while the list is up.
    TextOffset from = std::max<TextOffset>(caret_ - kMaxPartialWord, 0);
    std::string before = RangeText(from, caret_, tfStored);
    std::size_t i = before.size();
    while (i > 0 && (CharIsInWord(before[i - 1]) || CharStartsWord(before[i - 1])))
        --i;
    TTemplatePopup popup;
    popup.partial = TKeywords::lowered(std::string_view(before).substr(i));
    for (const auto& [name, entry] : templates_->entries()) {
        if (popup.preselected < 0 && !popup.partial.empty() &&
            name.find(popup.partial) != std::string::npos)
            popup.preselected = static_cast<int>(popup.items.size());
        popup.items.push_back({name, entry.description.value_or(std::string())});
    }
    TextOffset end = caret_;
    SetSelection(end, from + static_cast<TextOffset>(i));
    if (!ShowTemplatePopup(popup)) {
        SetSelection(end, end);
        return TKeyHookResult::NotHandled;
    }
    return TKeyHookResult::Consumed;
}

TKeyHookResult TCustomCodeMemo::AutoReplaceKey(std::uint16_t key, unsigned shift) {
    if (!autoReplace_ || readOnly_ || SelLength() != 0 || !autoReplace_->isTrigger(key, shift))
        return TKeyHookResult::NotHandled;
    auto match = MacroBefore(*autoReplace_);
    // A replacement that does not happen leaves the key to type as usual.
    if (!match || !ExpandMatch(*match, true)) return TKeyHookResult::NotHandled;
    return autoReplace_->swallowKey ? TKeyHookResult::Consumed : TKeyHookResult::Handled;
}

bool TCustomCodeMemo::ExpandMatch(const MacroMatch& match, bool autoReplace) {
    const TMacroKeywords& store = autoReplace ? static_cast<const TMacroKeywords&>(*autoReplace_)
                                              : static_cast<const TMacroKeywords&>(*templates_);
    const MacroEntry* entry = store.entry(match.name);
    if (!entry) return false;
    std::string expansion = entry->expansion.value_or(std::string());
    if (autoReplace) {
        // Whole words only, judged by the matched text itself, so that an entry never fires
        // inside a longer word.
        std::string item = RangeText(match.start, caret_, tfStored);
        std::string around = RangeText(std::max<TextOffset>(match.start - 1, 0),
                                       std::min<TextOffset>(caret_ + 1, TextLength()), tfStored);
        const bool hasBefore = match.start > 0;
        const bool hasAfter = caret_ < TextLength();
        if (!item.empty() && CharIsInWord(item.back()) && hasAfter && CharIsInWord(around.back()))
            return false;
        if (!item.empty() && CharStartsWord(item.front()) && hasBefore &&
            CharIsInWord(around.front()))
            return false;
        bool canReplace = true;
        if (OnAutoReplace) {
            edStream_.SetPos(match.start);
            OnAutoReplace(this, edStream_, item, expansion, canReplace);
        }
        if (!canReplace) return false;
    } else if (OnTemplateEvent) {
        OnTemplateEvent(this, match.name, expansion);
    }
    SetSelection(caret_, match.start);
    InsertExpansion(std::move(expansion), store);
    return true;
}

void TCustomCodeMemo::ExpandChosenTemplate(const std::string& name, const std::string& partial) {
    if (!templates_ || readOnly_) return;
    const MacroEntry* entry = templates_->entry(name);
    if (!entry) return;
    // A name that does not hold the typed word goes after it: the word is the user's.
    if (TKeywords::lowered(name).find(partial) == std::string::npos) {
        TextOffset end = std::max(anchor_, caret_);
        SetSelection(end, end);
    }
    std::string expansion = entry->expansion.value_or(std::string());
    if (OnTemplateEvent) OnTemplateEvent(this, TKeywords::lowered(name), expansion);
    InsertExpansion(std::move(expansion), *templates_);
}

void TCustomCodeMemo::InsertExpansion(std::string expansion, const TMacroKeywords& store) {
    TextOffset start = SelStart();
    std::string text = normaliseLineBreaks(expansion);
    if (store.indentExpansion) {
        // The empty line after the last line break has no record: column 0.
        auto where = store_->Locate(start);
        DisplayColumn column =
            where.rec < LineCount()
                ? ColumnOf(where.rec, static_cast<std::size_t>(start - where.start))
                : 0;
        if (column > 0 && text.find(kCR) != std::string::npos) {
            std::string indented;
            indented.reserve(text.size() + 64);
            for (char c : text) {
                indented.push_back(c);
                if (c == kCR) indented.append(static_cast<std::size_t>(column), ' ');
            }
            text.swap(indented);
        }
    }
    std::size_t marker = std::string::npos;
    if (store.caretMarker) {
        marker = text.find('|');
        if (marker != std::string::npos) text.erase(marker, 1);
    }
    {
        TUndoGroupScope group(*this, ugTemplate);
        SetSelection(std::max(anchor_, caret_), start, false);
        ReplaceSel(text);
        if (marker != std::string::npos) {
            TextOffset at = start + static_cast<TextOffset>(marker);
            SetSelection(at, at);
        }
    }
    ScrollToCaret();
    NotifyChange();
}

} // namespace morvane::editor
